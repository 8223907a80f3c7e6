#include "run/MessageBoxes.h"

#include "base/Exception.h"

namespace {

#if defined(_WIN32)
constexpr const char* FolderSeparators = "/\\";
#else
constexpr const char* FolderSeparators = "/";
#endif

} // namespace

std::string TitleFromExecutable(std::string_view executablePath) {
    const size_t slash = executablePath.find_last_of(FolderSeparators);
    std::string_view name =
        slash == std::string_view::npos ? executablePath : executablePath.substr(slash + 1);
    name = name.substr(0, name.find('.'));
    std::string title(name);
    for (size_t i = 1; i < title.size(); ++i) {
        if (title[i] >= 'A' && title[i] <= 'Z') {
            title[i] = static_cast<char>(title[i] - 'A' + 'a');
        }
    }
    return title;
}

std::string ErrorBoxText(std::string_view message) {
    std::string text(message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') {
        text += '.';
    }
    return text;
}

void ShowFailureBox(TMessageBoxes& boxes, const std::string& caption,
                    const std::exception_ptr& failure) noexcept {
    try {
        boxes.ShowError(caption, ErrorBoxText(FailureMessage(failure)));
    } catch (...) {
        // Nothing is left to tell the user with; the loop goes on.
    }
}
