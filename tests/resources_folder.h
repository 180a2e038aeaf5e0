// The running test's Resources folder, where the framework opens pictures and sounds:
// tests put files there, or take them away.
#pragma once

#include <filesystem>

namespace testing_support {

inline std::filesystem::path ResourcesFolder()
{
    return std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "Resources";
}

} // namespace testing_support
