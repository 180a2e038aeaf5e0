#include "framework/msgbox.h"

#include "framework/application.h"
#include "framework/runtime.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <utility>

namespace fw {

namespace {
MsgBoxHandler& Handler()
{
    static MsgBoxHandler handler;
    return handler;
}
} // namespace

void MsgBox(const String& text)
{
    CheckMainThread("MsgBox");
    if (Handler()) {
        // A copy: the handler may replace itself.
        MsgBoxHandler handler = Handler();
        handler(text);
        return;
    }
    const QString message
        = QString::fromUtf8(text.Bytes().data(), static_cast<qsizetype>(text.Bytes().size()));
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        // Without the widgets' run time there is nobody to show a box to.
        std::fprintf(stderr, "%s\n", text.ToStdString().c_str());
        return;
    }
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QString::fromUtf8(ProgramName));
    box.setTextFormat(Qt::PlainText);
    box.setText(message);
    box.setStandardButtons(QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

MsgBoxHandler SetMsgBoxHandler(MsgBoxHandler handler)
{
    return std::exchange(Handler(), std::move(handler));
}

} // namespace fw
