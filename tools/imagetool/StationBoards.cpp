#include "StationBoards.h"
#include <algorithm>
#include <cctype>

namespace {

std::string Key(const std::string &path) {
    std::string key = path;
    for (char &c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

bool Holds(const std::vector<std::string> &keys, const std::string &key) {
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

}  // namespace

std::vector<std::string> StationBoards::Waiting(const std::vector<std::string> &present) {
    std::vector<std::string> presentKeys;
    for (const std::string &path : present) presentKeys.push_back(Key(path));
    taken_.erase(std::remove_if(taken_.begin(), taken_.end(),
                                [&presentKeys](const std::string &key) { return !Holds(presentKeys, key); }),
                 taken_.end());
    std::vector<std::string> waiting, waitingKeys;
    for (size_t i = 0; i < present.size(); ++i) {
        if (Holds(taken_, presentKeys[i]) || Holds(waitingKeys, presentKeys[i])) continue;
        waiting.push_back(present[i]);
        waitingKeys.push_back(presentKeys[i]);
    }
    return waiting;
}

void StationBoards::Take(const std::string &path) {
    const std::string key = Key(path);
    if (!Holds(taken_, key)) taken_.push_back(key);
}

void StationBoards::Removed(const std::string &path) {
    const std::string key = Key(path);
    taken_.erase(std::remove(taken_.begin(), taken_.end(), key), taken_.end());
}
