#include "platform/AnsiText.h"
#include "platform/Application.h"
#include "platform/Exceptions.h"
#include "tests/support/TestSupport.h"

#include <QClipboard>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextLayout>
#include <QTimer>
#include <gtest/gtest.h>

#include <set>

TEST(Application, TitledTirmo)
{
    ASSERT_NE(Application(), nullptr);
    EXPECT_EQ(Application()->Title(), "TIRMO");
}

TEST(Application, ExceptionInHandlerShownAndWindowGoesOn)
{
    QPushButton button("Go");
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, Guarded([&] {
        ++clicks;
        throw Exception("Something broke");
    }));
    button.show();
    ShownMessageBoxes().clear();
    QTest::mouseClick(&button, Qt::LeftButton);
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(clicks, 2);
    ASSERT_EQ(ShownMessageBoxes().size(), 2u);
    EXPECT_EQ(ShownMessageBoxes()[0].first, "Something broke");
    EXPECT_EQ(ShownMessageBoxes()[0].second, "TIRMO");
}

namespace {

// The lines, by index, that the characters [from, from + length) are laid on
// when `text` is wrapped as a label wraps it at `width` pixels.
std::set<int> LinesOf(const QString &text, qsizetype from, qsizetype length, qreal width)
{
    QTextLayout layout(text, QApplication::font());
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine())
        line.setLineWidth(width);
    layout.endLayout();
    std::set<int> lines;
    for (qsizetype i = from; i < from + length; ++i)
        lines.insert(layout.lineForTextPosition(int(i)).lineNumber());
    return lines;
}

} // namespace

TEST(Application, AddressesAndPathsInBoxesNeverBreak)
{
    const QString url = "http://127.0.0.1:8080/tirmo/cdl/version.ini";
    const QFontMetricsF metrics(QApplication::font());
    const qreal width = metrics.horizontalAdvance(url) + metrics.horizontalAdvance("xx");
    for (const std::string tail : { "", ": the server answered 404" }) {
        const std::string text = "The list couldn't be fetched from " + url.toStdString() + tail;
        const QString plain = QString::fromStdString(text);
        // Unjoined, the line breaks after "http://": the fault being mended.
        EXPECT_GT(LinesOf(plain, plain.indexOf(url), url.size(), width).size(), 1u);
        const QString shown = MessageBoxText(text);
        EXPECT_EQ(QString(shown).remove(QChar(0x2060)), plain);
        const qsizetype start = shown.indexOf('h', shown.indexOf("from "));
        const qsizetype end = shown.lastIndexOf('i') + 1;
        EXPECT_EQ(LinesOf(shown, start, end - start, width).size(), 1u) << text;
    }
    EXPECT_EQ(MessageBoxText("Cannot write file /tmp/a b/c.dat: No space"),
              QString::fromUtf8("Cannot write file /\u2060t\u2060m\u2060p\u2060/\u2060a "
                                "b\u2060/\u2060c\u2060.\u2060d\u2060a\u2060t\u2060: No space"));
    // Characters beyond 16 bits and accents stay whole.
    EXPECT_EQ(MessageBoxText("/\xF0\x9F\x8E\xAE"
                             "e\xCC\x81"),
              QString::fromUtf8("/\u2060\xF0\x9F\x8E\xAE\u2060e\xCC\x81"));
}

TEST(Application, RealBoxShowsJoinedTextAndCopiesItPlain)
{
    const std::string text = "Couldn't reach http://127.0.0.1:1/tirmo/";
    const MessageBoxHook hook = SetMessageBoxHook({});
    QString label;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        // As the user does: select the whole text with the mouse, then Ctrl+C.
        auto *shown = box->findChild<QLabel *>("qt_msgbox_label");
        label = shown->text();
        shown->setSelection(0, int(label.size()));
        QTest::keySequence(shown, QKeySequence::Copy);
        box->accept();
    });
    ShowMessageBox(text, "TIRMO");
    SetMessageBoxHook(hook);
    EXPECT_EQ(label, MessageBoxText(text));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromStdString(text));
}

TEST(AnsiText, Utf8ShownAsUtf8ElseWindows1252)
{
    EXPECT_EQ(ToDisplay("Pok\xc3\xa9mon"), QString::fromUtf8("Pok\xc3\xa9mon"));
    EXPECT_EQ(ToDisplay("Pok\xe9mon"), QString::fromUtf8("Pok\xc3\xa9mon"));
    EXPECT_EQ(ToDisplay("\x80"), QString(QChar(0x20AC)));
    EXPECT_EQ(ToDisplay(std::string("a\0b", 3)).size(), 3);
}
