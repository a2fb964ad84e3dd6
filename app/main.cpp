#include "app/Unit1.h"
#include "platform/Application.h"

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    // The menu entry's id: on Wayland the window's app id, by which shells
    // match the window to its entry and icon.
    QGuiApplication::setDesktopFileName("net.velmarin.tirmo");
    int exitCode = 0;
    try {
        // Installed, the user's folder is set up before anything reads it;
        // what keeps it from being written is told once, here.
        std::string problem;
        const std::string appDir = SetUpAppDir(FindAppLayout(ExecutableDir()), problem);
        if (!problem.empty())
            ShowMessageBox(problem, app.Title());
        TForm1 form(appDir);
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
