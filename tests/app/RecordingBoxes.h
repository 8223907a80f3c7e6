// Message boxes that are answered at once and remembered.
#pragma once

#include "run/MessageBoxes.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

struct TShownBox {
    bool Error = false;
    std::string Caption;
    std::string Text;
    friend bool operator==(const TShownBox&, const TShownBox&) = default;
};

inline std::ostream& operator<<(std::ostream& out, const TShownBox& box) {
    return out << (box.Error ? "error " : "plain ") << '[' << box.Caption << "] " << box.Text;
}

class TRecordingBoxes : public TMessageBoxes {
public:
    void Show(const std::string& caption, const std::string& text) override {
        Record({false, caption, text});
    }
    void ShowError(const std::string& caption, const std::string& text) override {
        Record({true, caption, text});
    }

    std::vector<TShownBox> Shown;
    // Runs while a box is "open", as the user would act before pressing OK.
    std::function<void(const TShownBox&)> WhileOpen;

private:
    void Record(const TShownBox& box) {
        Shown.push_back(box);
        if (WhileOpen) {
            WhileOpen(box);
        }
    }

    TSeamOverride<TMessageBoxes> FInUse{MessageBoxes, *this};
};
