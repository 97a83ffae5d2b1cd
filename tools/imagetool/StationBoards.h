// Which of the present boards `ImageTool watch` has yet to update: each board once while it
// stays plugged in, and once more after it was unplugged and plugged in again. Apart from any
// device search, so the rules are tested directly. Paths compare ignoring letter case, as the
// platform opens them.
#pragma once
#include <string>
#include <vector>

class StationBoards {
public:
    // Forgets the taken boards that `present` no longer holds (they were unplugged) and returns
    // the present boards not taken, in `present`'s order.
    std::vector<std::string> Waiting(const std::vector<std::string> &present);
    // The board's update has started: it is not waiting again while it stays plugged in.
    void Take(const std::string &path);
    // The platform reported the board gone: it waits again when next present, also when it came
    // back before any search saw it missing.
    void Removed(const std::string &path);

private:
    std::vector<std::string> taken_;  // lower case
};
