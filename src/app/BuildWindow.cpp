#include "BuildWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "Icons.h"
#include "MainWindow.h"
#include "Windows.h"
#include "platform/ui/MessageService.h"
#include "state/GlobalState.h"

namespace vopa::app {

BuildWindow::BuildWindow(QWidget* parent) : ProgramWindow("creadblocale", parent) {
    setWindowTitle("Qen - Halvorix Software Solutions");
    setMinimumWidth(460);
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel("Crea DataBase Training", this);
    title->setObjectName("Label21");
    title->setStyleSheet("font-size: 16pt; font-weight: bold; color: #1f4e79;");
    layout->addWidget(title);

    animation_ = new QLabel(this);
    animation_->setObjectName("Animation1");
    animation_->setMinimumSize(272, 60);
    animation_->setVisible(false);
    layout->addWidget(animation_);

    progress_ = new QProgressBar(this);
    progress_->setObjectName("ProgressBar1");
    progress_->setRange(0, 1200);
    layout->addWidget(progress_);
    status_ = new QLabel(this);
    status_->setObjectName("lblStatus");
    layout->addWidget(status_);

    auto* buttons = new QHBoxLayout;
    auto* build = new QPushButton(icons::build(), QString(), this);
    build->setObjectName("Command1");
    build->setIconSize(QSize(40, 40));
    build->setToolTip("Crea il database di training VoPaDatiTraining");
    auto* close = new QPushButton(icons::close(), QString(), this);
    close->setObjectName("Command4");
    close->setIconSize(QSize(40, 40));
    close->setToolTip("Chiude la finestra e torna al menu");
    buttons->addWidget(build);
    buttons->addStretch();
    buttons->addWidget(close);
    layout->addLayout(buttons);

    connect(close, &QPushButton::clicked, this, [this] { Windows::instance().unload(this); });
}

void BuildWindow::activated() {
    progress_->setValue(0);
    if (state::globals().CurrentOfficeNumber > 1) {
        ui::messages().message("Non è possibile esportare dal DB della sede che è aperta attualmente!!\n"
                               "Aprire la sede centrale e ritentare.");
        Windows::instance().unload(this);
    }
}

void BuildWindow::unloading() {
    if (Windows::instance().ending()) return;
    if (MainWindow* main = Windows::instance().main()) main->show();
}

}  // namespace vopa::app
