#include "MainWindow.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "BuildWindow.h"
#include "CompanyWindow.h"
#include "Icons.h"
#include "Windows.h"
#include "flow/ProgramFlow.h"
#include "platform/sys/SystemInfo.h"
#include "platform/ui/MessageService.h"

namespace vopa::app {
namespace {

QPushButton* pictureButton(QWidget* parent, const char* name, const QIcon& icon, const QString& caption,
                           const QString& tip) {
    auto* b = new QPushButton(icon, caption, parent);
    b->setObjectName(name);
    b->setIconSize(QSize(40, 40));
    b->setToolTip(tip);
    b->setMinimumHeight(56);
    return b;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : ProgramWindow("avvio_1", parent) {
    setWindowTitle("Qen - Halvorix Software Solutions");
    setMinimumWidth(520);
    auto* layout = new QVBoxLayout(this);

    auto* title = titleLabel(this, "Start Menu");
    layout->addWidget(title);

    auto* frame = new QGroupBox("Gestione sedi", this);
    frame->setObjectName("Frame4");
    auto* grid = new QGridLayout(frame);
    auto* officeLabel = new QLabel("Sede:", frame);
    officeLabel->setObjectName("Label1");
    combo1_ = new QComboBox(frame);
    combo1_->setObjectName("Combo1");
    combo1_->setEditable(true);
    combo1_->setEditText("Seleziona");
    combo1_->lineEdit()->setReadOnly(true);
    text1_ = new QLineEdit(frame);
    text1_->setObjectName("Text1");
    text1_->setReadOnly(true);
    grid->addWidget(officeLabel, 0, 0);
    grid->addWidget(combo1_, 0, 1);
    grid->addWidget(text1_, 1, 1);
    layout->addWidget(frame);

    auto* buttons = new QHBoxLayout;
    auto* change = pictureButton(this, "Command15", icons::switchCompany(), "Cambia Azienda",
                                 "Apre l'elenco delle aziende per lavorare su un'altra azienda");
    auto* build = pictureButton(this, "Command6", icons::exportDatabase(), "Esporta",
                                "Crea il database di training VoPaDatiTraining dai dati di questa azienda");
    auto* quit = pictureButton(this, "Command7", icons::exitProgram(), QString(), "Chiude il programma");
    buttons->addWidget(change);
    buttons->addWidget(build);
    buttons->addStretch();
    buttons->addWidget(quit);
    layout->addLayout(buttons);

    auto* platform = new QLabel("Piattaforma SQL", this);
    platform->setObjectName("lblPlatform");
    const sys::Version v = sys::version();
    auto* version = new QLabel(QString::fromStdString(sys::productName()) + "  - Ver.Nr. " +
                                   QString("%1.%2.%3").arg(v.major).arg(v.minor).arg(v.revision),
                               this);
    version->setObjectName("lblVersion");
    auto* notice = new QLabel("Copyright: " + QString::fromStdString(sys::legalNotice()), this);
    notice->setObjectName("lblLegalNotice");
    notice->setStyleSheet("color: #555;");
    for (QWidget* w : {static_cast<QWidget*>(platform), static_cast<QWidget*>(version), static_cast<QWidget*>(notice)})
        layout->addWidget(w);

    connect(change, &QPushButton::clicked, this, &MainWindow::changeCompany);
    connect(build, &QPushButton::clicked, this, &MainWindow::openBuild);
    connect(quit, &QPushButton::clicked, this, &MainWindow::endProgram);
}

void MainWindow::load() {
    if (!Windows::instance().flow().openMainWindow()) {
        // Without its company database the program cannot do anything: say so and end, instead of
        // leaving an invisible program behind.
        ui::messages().message("Il database dell'azienda non è raggiungibile: il programma termina.");
        Windows::instance().unloadAll();
    }
}

void MainWindow::activated() {
    flow::ProgramFlow& flow = Windows::instance().flow();
    flow.mainWindowActivated();
    const QString company = QString::fromStdString(flow.state().CompanyName);
    combo1_->setEditText(company);
    text1_->setText(company);
}

void MainWindow::unloading() {
    if (ProgramWindow* about = Windows::instance().loaded("About")) Windows::instance().unload(about);
}

void MainWindow::changeCompany() {
    if (CompanyWindow* company = Windows::instance().company()) company->show();
    hide();
}

void MainWindow::openBuild() {
    if (Windows::instance().flow().userMayBuild() == flow::BuildPermission::NotAdministrator) {
        ui::messages().message("Per creare il database di training servono i diritti di amministratore.");
        return;
    }
    if (BuildWindow* build = Windows::instance().build()) build->show();
    hide();
}

void MainWindow::endProgram() {
    Windows::instance().flow().endProgram();
    Windows::instance().unloadAll();
}

}  // namespace vopa::app
