#include "platform/FolderChooser.h"

namespace rillow {

namespace {
FolderChooser& installed() {
    static FolderChooser chooser;
    return chooser;
}
}  // namespace

void setFolderChooser(FolderChooser chooser) {
    installed() = std::move(chooser);
}

std::optional<QString> chooseFolder(const FolderChooserRequest& request) {
    if (!installed()) return std::nullopt;
    return installed()(request);
}

}  // namespace rillow
