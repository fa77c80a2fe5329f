#include "QtMessageService.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include <cstdlib>

namespace vopa::ui {

Answer QtMessageService::show(const MessageBox& box) {
    // A box asked for by work running on another thread (the build) is shown by the window thread, and
    // the worker waits for the answer.
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
        Answer answer = Answer::Ok;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [this, &box, &answer] { answer = show(box); }, Qt::BlockingQueuedConnection);
        return answer;
    }
    QMessageBox dialog(QApplication::activeWindow());
    dialog.setWindowTitle(QString::fromStdString(box.title.empty() ? standardTitle() : box.title));
    dialog.setText(QString::fromStdString(box.text));
    switch (box.icon) {
        case Icon::None: dialog.setIcon(QMessageBox::NoIcon); break;
        case Icon::Information: dialog.setIcon(QMessageBox::Information); break;
        case Icon::Exclamation: dialog.setIcon(QMessageBox::Warning); break;
        case Icon::Question: dialog.setIcon(QMessageBox::Question); break;
        case Icon::Critical: dialog.setIcon(QMessageBox::Critical); break;
    }
    if (box.buttons == Buttons::YesNo) {
        dialog.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return dialog.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
    }
    dialog.setStandardButtons(QMessageBox::Ok);
    dialog.exec();
    return Answer::Ok;
}

void QtMessageService::endProgram(const MessageBox& box) {
    show(box);
    std::exit(1);  // the program ends for a fault it has shown: a failure to whoever started it
}

}  // namespace vopa::ui
