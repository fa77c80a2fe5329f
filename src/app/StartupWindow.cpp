#include "StartupWindow.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "MainWindow.h"
#include "SignInWindow.h"
#include "Windows.h"
#include "flow/ProgramFlow.h"
#include "platform/sys/SystemInfo.h"

namespace vopa::app {

StartupWindow::StartupWindow(QWidget* parent) : ProgramWindow("Avvio", parent) {
    setWindowTitle(QString::fromStdString(sys::productName()));

    auto* layout = new QVBoxLayout(this);
    picture_ = new QLabel(this);
    picture_->setObjectName("Picture1");
    picture_->setMinimumSize(360, 120);
    picture_->setAlignment(Qt::AlignCenter);
    picture_->setText(QString::fromStdString(sys::productName()));
    picture_->setStyleSheet("font-size: 24pt; font-weight: bold; color: #1f4e79;");

    auto* nameCaption = new QLabel("Nome", this);
    auto* pleaseCaption = new QLabel("Please", this);
    auto* product = new QLabel("Just a moment please, I  restore your connection", this);
    product->setObjectName("lblCompanyProduct");

    progress_ = new QProgressBar(this);
    progress_->setObjectName("ProgressBar1");
    progress_->setRange(0, 0);  // busy: the work it waits for has no known length
    label1_ = new QLabel(this);
    label1_->setObjectName("Label1");
    auto* label2 = new QLabel(this);
    label2->setObjectName("Label2");
    version_ = new QLabel("Ver. " + QString::fromStdString(sys::versionText()), this);
    version_->setObjectName("lblVersion");

    for (QWidget* w : {static_cast<QWidget*>(picture_), static_cast<QWidget*>(nameCaption),
                       static_cast<QWidget*>(pleaseCaption), static_cast<QWidget*>(product),
                       static_cast<QWidget*>(progress_), static_cast<QWidget*>(label1_),
                       static_cast<QWidget*>(label2), static_cast<QWidget*>(version_)})
        layout->addWidget(w);
}

void StartupWindow::closeRequested() { Windows::instance().unloadAll(); }

void StartupWindow::showDatabase(const QString& companyName) {
    label1_->setText("DataBase :   " + companyName);
    repaint();
}

void StartupWindow::activated() {
    const flow::StartupResult next = Windows::instance().flow().startUp(
        0, [this](const std::string& companyName) { showDatabase(QString::fromStdString(companyName)); });
    if (next.outcome == flow::StartupOutcome::MainWindow) {
        if (MainWindow* main = Windows::instance().main()) main->show();
    } else if (SignInWindow* signIn = Windows::instance().signIn()) {
        signIn->show();
    }
    hide();
}

}  // namespace vopa::app
