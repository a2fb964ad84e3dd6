#pragma once

#include <QApplication>

class QMessageBox;

#include <exception>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>

// The application object: titled "TIRMO", it shows every exception that
// leaves an event handler in a message box and then goes on. Once it is made,
// SIGXFSZ is ignored, so a write past the file-size limit fails instead of
// ending the process.
class TApplication : public QApplication {
public:
    TApplication(int &argc, char **argv);

    std::string Title() const { return m_title; }
    void SetTitle(const std::string &title);

    // Shows the exception's message in a message box titled with Title().
    void ShowException(const std::exception_ptr &error);

    bool notify(QObject *receiver, QEvent *event) override;

private:
    std::string m_title;
};

// The application object, or nullptr before it is made.
TApplication *Application();

// Hands an exception that left a handler to the application object; with no
// application object it is rethrown.
void HandleException(const std::exception_ptr &error);

// Calls a handler with a signal's arguments, or with none when it takes none.
// A template of its own, so that clang checks the call without arguments only
// for the handlers that take none.
template<typename F, typename... Args> void CallHandler(F &handler, Args &&...args)
{
    if constexpr (std::is_invocable_v<F &, Args...>)
        handler(std::forward<Args>(args)...);
    else
        handler();
}

// Wraps an event handler so that no exception unwinds through Qt: the
// exception is shown by the application object instead. A handler may ignore
// the signal's arguments, as a slot may.
template<typename F> auto Guarded(F handler)
{
    return [handler = std::move(handler)](auto &&...args) {
        try {
            CallHandler(handler, std::forward<decltype(args)>(args)...);
        } catch (...) {
            HandleException(std::current_exception());
        }
    };
}

// Processes every pending event and returns. Handlers may run inside: any
// caller that waits this way is re-entered by the event loop.
void ProcessMessages();

// Blocks until at least one event arrives, then processes what is pending.
// Waits use it instead of spinning on ProcessMessages.
void WaitMessage();

// A simple message box with an OK button. Tests replace what it does.
using MessageBoxHook = std::function<void(const std::string &text, const std::string &caption)>;
void ShowMessageBox(const std::string &text, const std::string &caption);
// The text as message boxes show it: a word with a '/' (an address, a path)
// never breaks across lines.
QString MessageBoxText(const std::string &text);
// Shows `text` in `box` that way; what is copied from it has no joiners.
void SetMessageBoxText(QMessageBox &box, const std::string &text);
// Installs a replacement and returns the previous one (empty for the real box).
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);
