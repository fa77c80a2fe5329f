#include "BuildWindow.h"

#include <filesystem>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "Icons.h"
#include "platform/sys/SystemInfo.h"
#include "platform/ui/AnimationControl.h"
#include "platform/ui/MessageService.h"
#include "MainWindow.h"
#include "Windows.h"
#include "flow/ProgramFlow.h"

namespace vopa::app {

// Hands what the build reports (on its worker thread) to the window's thread.
class BuildWindow::Observer final : public training::BuildObserver {
public:
    explicit Observer(BuildWindow* window) : window_(window) {}
    void stepStarted(const std::string& step, int number, int count) override {
        post([w = window_, s = QString("Passo %1 di %2 — %3").arg(number).arg(count).arg(QString::fromStdString(step))] {
            w->showStep(s);
        });
    }
    void progress(int value, int maximum) override {
        post([w = window_, value, maximum] {
            w->progress_->setMaximum(maximum);
            w->progress_->setValue(std::min(value, maximum));
        });
    }
    void currentTable(const std::string& table, int index, int count) override {
        post([w = window_, t = QString::fromStdString(table), index, count] { w->showTable(t, index, count); });
    }
    void animation(bool running) override {
        post([w = window_, running] { running ? w->startAnimation() : w->stopAnimation(); });
    }

private:
    template <typename F>
    void post(F&& f) {
        QMetaObject::invokeMethod(window_, std::forward<F>(f), Qt::QueuedConnection);
    }
    BuildWindow* window_;
};

BuildWindow::BuildWindow(QWidget* parent) : ProgramWindow("creadblocale", parent), observer_(new Observer(this)) {
    setWindowTitle("Qen - Halvorix Software Solutions");
    setMinimumWidth(460);
    auto* layout = new QVBoxLayout(this);
    auto* title = titleLabel(this, "Crea DataBase Training", 16);
    layout->addWidget(title);

    animation_ = new ui::AnimationControl(this);
    animation_->setObjectName("Animation1");
    animation_->setMinimumSize(272, 60);
    animation_->setVisible(false);
    layout->addWidget(animation_);

    progress_ = new QProgressBar(this);
    progress_->setObjectName("ProgressBar1");
    progress_->setRange(0, options_.progressMaximum);
    layout->addWidget(progress_);
    status_ = new QLabel(this);
    status_->setObjectName("lblStatus");
    status_->setMinimumWidth(420);
    layout->addWidget(status_);

    anonymise_ = new QCheckBox("Anonimizza i dati personali", this);
    anonymise_->setObjectName("chkAnonimizza");
    anonymise_->setToolTip(
        "Nella copia sostituisce nomi, indirizzi, città, telefoni, e-mail, codici fiscali, partite IVA, IBAN e\n"
        "coordinate bancarie di donatori, dipendenti, fornitori e contatti con pseudonimi coerenti, anche dentro\n"
        "le descrizioni. Importi, date delle registrazioni e conti restano uguali. Il database dell'azienda non\n"
        "viene toccato.");
    layout->addWidget(anonymise_);

    auto* buttons = new QHBoxLayout;
    build_ = new QPushButton(icons::build(), QString(), this);
    build_->setObjectName("Command1");
    build_->setIconSize(QSize(40, 40));
    build_->setToolTip("Crea il database di training VoPaDatiTraining dai dati dell'azienda");
    close_ = new QPushButton(icons::close(), QString(), this);
    close_->setObjectName("Command4");
    close_->setIconSize(QSize(40, 40));
    close_->setToolTip("Chiude la finestra e torna al menu");
    buttons->addWidget(build_);
    buttons->addStretch();
    buttons->addWidget(close_);
    layout->addLayout(buttons);

    connect(build_, &QPushButton::clicked, this, &BuildWindow::startBuild);
    connect(close_, &QPushButton::clicked, this, &BuildWindow::closeRequested);
}

BuildWindow::~BuildWindow() {
    if (worker_) worker_->wait();
}

void BuildWindow::activated() {
    if (building()) return;
    progress_->setValue(0);
    if (Windows::instance().flow().officeAllowsBuild() != flow::BuildPermission::Allowed) Windows::instance().unload(this);
}

void BuildWindow::closeRequested() {
    if (!building()) {
        Windows::instance().unload(this);
        return;
    }
    if (stop_ || !ui::messages().ask("Interrompere la creazione del database di training?")) return;
    stop_ = true;
    closeAfterBuild_ = true;
    status_->setText("Interruzione in corso...");
}

void BuildWindow::unloading() {
    if (Windows::instance().ending()) return;
    if (MainWindow* main = Windows::instance().main()) main->show();
}

void BuildWindow::startBuild() {
    if (building()) return;
    build_->setEnabled(false);
    close_->setEnabled(false);
    anonymise_->setEnabled(false);
    options_.anonymise = anonymise_->isChecked();
    stop_ = false;
    closeAfterBuild_ = false;
    options_.stop = &stop_;
    worker_ = QThread::create([this, &flow = Windows::instance().flow()] {
        const training::BuildResult result = flow.runBuild(*observer_, options_);
        QMetaObject::invokeMethod(this, [this, result] { buildEnded(result); }, Qt::QueuedConnection);
    });
    worker_->start();
}

void BuildWindow::buildEnded(training::BuildResult result) {
    worker_->wait();
    delete worker_;
    worker_ = nullptr;
    stopAnimation();
    build_->setEnabled(true);
    close_->setEnabled(true);
    anonymise_->setEnabled(true);
    status_->setText(result.outcome == training::BuildOutcome::Completed ? "Database di training creato." : QString());
    emit buildFinished(static_cast<int>(result.outcome));
    if (result.closeWindow || closeAfterBuild_) Windows::instance().unload(this);
}

void BuildWindow::showStep(const QString& step) {
    step_ = step;
    status_->setText(step);
}

void BuildWindow::showTable(const QString& table, int index, int count) {
    status_->setText(count > 0 ? QString("%1: %2 (%3/%4)").arg(step_, table).arg(index).arg(count)
                               : QString("%1: %2").arg(step_, table));
}

void BuildWindow::startAnimation() {
    animation_->setVisible(true);
    try {
        animation_->setAutoPlay(false);
        animation_->open((std::filesystem::path(sys::dataFolder()) / "FILECOPY.avi").string());
        animation_->play(-1, 0, -1);
    } catch (const std::exception& e) {
        // Without its animation the build goes on all the same.
        ui::messages().warning(e.what());
    }
}

void BuildWindow::stopAnimation() { animation_->stop(); }

}  // namespace vopa::app
