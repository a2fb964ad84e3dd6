#include "app/Unit1.h"
#include "platform/Application.h"

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    int exitCode = 0;
    try {
        TForm1 form;
        TUpdateForm updateForm(form.AppDir, &form);
        form.UpdateForm = &updateForm;
        form.show();
        // Not 0 when a signal ended the program without saving the ticks.
        exitCode = app.exec();
    } catch (...) {
        HandleException(std::current_exception());
    }
    return exitCode;
}
