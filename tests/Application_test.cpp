#include "platform/AnsiText.h"
#include "platform/Application.h"
#include "platform/Exceptions.h"
#include "tests/support/TestSupport.h"

#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

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

TEST(AnsiText, Utf8ShownAsUtf8ElseWindows1252)
{
    EXPECT_EQ(ToDisplay("Pok\xc3\xa9mon"), QString::fromUtf8("Pok\xc3\xa9mon"));
    EXPECT_EQ(ToDisplay("Pok\xe9mon"), QString::fromUtf8("Pok\xc3\xa9mon"));
    EXPECT_EQ(ToDisplay("\x80"), QString(QChar(0x20AC)));
    EXPECT_EQ(ToDisplay(std::string("a\0b", 3)).size(), 3);
}
