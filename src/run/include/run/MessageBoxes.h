// The message boxes of the program and the rules of what they show, the same for every front end:
// the caption (the application's title) and the text of the error box.
#pragma once

#include "base/Exception.h"
#include "base/Seam.h"

#include <exception>
#include <string>
#include <string_view>

// The message boxes a front end shows. Both are modal: the call returns when the user has
// answered the box (its one button is OK).
class TMessageBoxes {
public:
    virtual ~TMessageBoxes() = default;
    // A text and one OK button, no icon, centred on the screen.
    virtual void Show(const std::string& caption, const std::string& text) = 0;
    // The error box: the error icon and one OK button.
    virtual void ShowError(const std::string& caption, const std::string& text) = 0;
};

// The boxes the program shows: the front end's own, or a test's in its scope. Each front end
// defines the seam with its toolkit's boxes as the standard ones.
extern TSeam<TMessageBoxes> MessageBoxes;

// The executable's file name without its folder and without everything from its first ".",
// with every character after the first turned to lower case (ASCII letters). A folder ends with
// "/", and on Windows also with "\".
std::string TitleFromExecutable(std::string_view executablePath);

// The text of the error box for a failure's message: a "." is appended when the message is not
// empty and its last byte is greater than "." (so "Timeout" becomes "Timeout.", while a text
// ending in ".", a blank or ")" stays as it is).
std::string ErrorBoxText(std::string_view message);

// Shows a caught failure in the error box: its message by ErrorBoxText, with the caption. Never
// throws: a box that fails leaves nothing else to tell the user with.
void ShowFailureBox(TMessageBoxes& boxes, const std::string& caption,
                    const std::exception_ptr& failure) noexcept;
