// A library of nothing but what the C++ runtime brings into every library of this
// build (strings, exceptions, the unwinder's frame registration). Loading and freeing
// it shows what the toolchain's own runtime keeps of a library image; handle counts
// of the product's libraries are compared against it.
#include <stdexcept>
#include <string>

extern "C" __declspec(dllexport) int RuntimeOnly(int size) {
    try {
        std::string text(static_cast<std::size_t>(size), 'x');
        if (text.size() > 1) throw std::runtime_error(text);
        return static_cast<int>(text.size());
    } catch (const std::exception &) {
        return -1;
    }
}
