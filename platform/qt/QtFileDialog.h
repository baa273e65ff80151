#pragma once

#include "platform/FileDialog.h"

namespace tolvane::platform::qt {

// Qt's open-file dialog. A filter's description is shown as written; its pattern is read the
// Linux way: "*.exe", written for a platform whose programs end so, shows the executable
// files, and any other pattern shows every file.
class QtFileDialog final : public FileDialog {
public:
    std::optional<std::string> getOpenFileName(const std::string& title,
                                               const std::vector<FileFilter>& filters,
                                               const std::string& initialPath) override;
};

} // namespace tolvane::platform::qt
