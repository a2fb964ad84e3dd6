#include "platform/Application.h"

#include "platform/AnsiText.h"

#include <QAbstractEventDispatcher>
#include <QClipboard>
#include <QMessageBox>
#include <QRegularExpression>
#include <QWidget>

#include <csignal>

namespace {

TApplication *g_application = nullptr;
MessageBoxHook g_messageBoxHook;

std::string MessageOf(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &e) {
        return e.what();
    } catch (...) {
        return "Unknown exception";
    }
}

constexpr QChar kWordJoiner(0x2060);

} // namespace

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    // A write past the file-size limit (ulimit -f) would end the program
    // with SIGXFSZ, and with it the ticks; ignored, the write fails with
    // EFBIG and is told like any other failed write, the old file kept.
    std::signal(SIGXFSZ, SIG_IGN);
    g_application = this;
    SetTitle("TIRMO");
}

// The title names the message boxes only. As the application's display
// name Qt would append it to every window's caption.
void TApplication::SetTitle(const std::string &title)
{
    m_title = title;
}

void TApplication::ShowException(const std::exception_ptr &error)
{
    ShowMessageBox(MessageOf(error), m_title);
}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    // Last line of defence: handlers bound through Guarded never get here.
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowException(std::current_exception());
        return false;
    }
}

TApplication *Application()
{
    return g_application;
}

void HandleException(const std::exception_ptr &error)
{
    if (!g_application)
        std::rethrow_exception(error);
    g_application->ShowException(error);
}

void ProcessMessages()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void WaitMessage()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void ShowMessageBox(const std::string &text, const std::string &caption)
{
    if (g_messageBoxHook) {
        g_messageBoxHook(text, caption);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, ToDisplay(caption), QString(), QMessageBox::Ok,
                    QApplication::activeWindow());
    SetMessageBoxText(box, text);
    box.exec();
}

QString MessageBoxText(const std::string &text)
{
    // A line may break after any '/', which cut addresses after "http://".
    static const QRegularExpression kRunWithSlash(QStringLiteral("\\S*/\\S*"));
    QString shown = ToDisplay(text);
    QString joined;
    qsizetype done = 0;
    for (const QRegularExpressionMatch &run : kRunWithSlash.globalMatch(shown)) {
        joined.append(QStringView(shown).mid(done, run.capturedStart() - done));
        const QString word = run.captured();
        for (qsizetype i = 0; i < word.size(); ++i) {
            if (i > 0 && !word[i].isLowSurrogate() && !word[i].isMark())
                joined += kWordJoiner;
            joined += word[i];
        }
        done = run.capturedEnd();
    }
    joined.append(QStringView(shown).mid(done));
    return joined;
}

void SetMessageBoxText(QMessageBox &box, const std::string &text)
{
    box.setText(MessageBoxText(text));
    // What the user copies from the box is the text they read, addresses
    // that work when pasted.
    QObject::connect(QGuiApplication::clipboard(), &QClipboard::changed, &box,
                     [](QClipboard::Mode mode) {
                         QClipboard *clipboard = QGuiApplication::clipboard();
                         const QString copied = clipboard->text(mode);
                         if (copied.contains(kWordJoiner))
                             clipboard->setText(QString(copied).remove(kWordJoiner), mode);
                     });
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook)
{
    return std::exchange(g_messageBoxHook, std::move(hook));
}
