#pragma once
// The folder chooser: a modal dialog on the desktop, a scripted answer in tests.
// Main thread only; blocks while the dialog is open (the dialog runs its own event loop).

#include <QString>
#include <functional>
#include <optional>

namespace rillow {

struct FolderChooserRequest {
    QString message;  // shown above the folders
    QString button;   // the confirm button's title
};

// Gives the chosen folder's absolute path, or nothing when the user cancelled.
using FolderChooser = std::function<std::optional<QString>(const FolderChooserRequest&)>;

// Installs the chooser used from now on (the user interface installs the real dialog; tests
// install a scripted one). Without one, every choice is cancelled.
void setFolderChooser(FolderChooser chooser);
std::optional<QString> chooseFolder(const FolderChooserRequest& request);

}  // namespace rillow
