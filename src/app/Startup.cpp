#include "app/Startup.h"

#include "app/Application.h"
#include "app/Main.h"

#include <memory>

int RunMain(TApplication& application, const std::function<void(TForm1&)>& created) {
    std::unique_ptr<TForm1> form;
    try {
        form = std::make_unique<TForm1>();
        if (created) {
            created(*form);
        }
        form->ShowAtStart();
    } catch (...) {
        application.ShowException(std::current_exception());
        return 0;
    }
    application.exec();
    return 0;
}
