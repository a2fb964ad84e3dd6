#include "app/Unit1.h"
#include "platform/Application.h"

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    try {
        TForm1 form;
        TUpdateForm updateForm(form.AppDir, &form);
        form.UpdateForm = &updateForm;
        form.show();
        app.exec();
    } catch (...) {
        HandleException(std::current_exception());
    }
    return 0;
}
