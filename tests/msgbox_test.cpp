// Message boxes: the test seam, and the real modal Qt box when no seam is set.
#include "framework/msgbox.h"
#include "framework/runtime.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

TEST(MsgBox, AHandlerTakesTheTextInsteadOfABox)
{
    std::vector<std::string> seen;
    fw::MsgBoxHandler previous
        = fw::SetMsgBoxHandler([&](const fw::String& text) { seen.push_back(text.ToStdString()); });
    fw::MsgBox("Failure to open serial  port!!");
    fw::SetMsgBoxHandler(previous);
    EXPECT_EQ(seen, std::vector<std::string> { "Failure to open serial  port!!" });
}

TEST(MsgBox, WithoutAHandlerShowsAModalBoxUntilTheUserDismissesIt)
{
    const fw::MsgBoxHandler testDefault = fw::SetMsgBoxHandler(nullptr); // the real box, for this test
    struct Seen {
        QString text;
        bool modal = false;
        bool found = false;
    } seen;
    // Plays the user: finds the box the call shows and presses its OK button.
    QTimer user;
    user.setInterval(5);
    QObject::connect(&user, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (!box || !box->isVisible())
                continue;
            seen = { box->text(), box->isModal() && QApplication::activeModalWidget() == box, true };
            EXPECT_EQ(box->textFormat(), Qt::PlainText);
            EXPECT_EQ(box->windowTitle().toStdString(), "Vantrope") << "the program's name, as written";
            box->button(QMessageBox::Ok)->click();
        }
    });
    user.start();
    fw::MsgBox("<b>Failure</b> to open serial  port!!");
    user.stop();
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.text.toStdString(), "<b>Failure</b> to open serial  port!!") << "shown as it is";
    EXPECT_TRUE(seen.modal);
    fw::SetMsgBoxHandler(testDefault);
}

TEST(MsgBox, IsForTheMainThreadOnly)
{
    bool refused = false;
    std::thread([&] {
        try {
            fw::MsgBox("off the main thread");
        } catch (const fw::ThreadAccessingUIException&) {
            refused = true;
        }
    }).join();
    EXPECT_TRUE(refused);
}

} // namespace
