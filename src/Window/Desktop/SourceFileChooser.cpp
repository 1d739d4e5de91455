#include "Window/Desktop/SourceFileChooser.hpp"

#include "Window/Desktop/NativeFileChooser.hpp"

namespace larkspin::SourceFileChooser {

Task<std::optional<std::filesystem::path>> choose(GtkWindow* parent,
                                                  DocumentWindowHost::SourceRequest request) {
    NativeFileChooser::Panel panel;
    panel.title = std::move(request.message);
    panel.accept = std::move(request.prompt);
    panel.folder = std::move(request.startFolder);
    return NativeFileChooser::choose(parent, std::move(panel));
}

}  // namespace larkspin::SourceFileChooser
