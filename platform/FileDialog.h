#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tolvane::platform {

// One file type offered by an open-file dialog: its description and its pattern.
struct FileFilter {
    std::string description;
    std::string pattern;
};

// A modal open-file dialog. Returns the full path chosen, or nothing when cancelled.
class FileDialog {
public:
    virtual ~FileDialog() = default;
    virtual std::optional<std::string> getOpenFileName(const std::string& title,
                                                       const std::vector<FileFilter>& filters,
                                                       const std::string& initialPath) = 0;
};

} // namespace tolvane::platform
