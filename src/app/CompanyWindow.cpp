#include "CompanyWindow.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "Icons.h"
#include "SignInWindow.h"
#include "Windows.h"

namespace vopa::app {

CompanyWindow::CompanyWindow(QWidget* parent) : ProgramWindow("Avvio_Azienda", parent) {
    setWindowTitle("Gestione azienda");
    setMinimumWidth(420);
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel("DataBase", this);
    label->setObjectName("Label1");
    list_ = new QComboBox(this);
    list_->setObjectName("DataAzienda");
    list_->setEditable(true);
    list_->setInsertPolicy(QComboBox::NoInsert);
    list_->setToolTip("Scegliere l'azienda su cui lavorare");
    layout->addWidget(label);
    layout->addWidget(list_);

    auto* strip = new QWidget(this);
    strip->setObjectName("picButtons");
    auto* stripLayout = new QHBoxLayout(strip);
    stripLayout->addStretch();
    close_ = new QPushButton(icons::close(), QString(), strip);
    close_->setObjectName("cmdClose");
    close_->setIconSize(QSize(32, 32));
    close_->setToolTip("Chiude l'elenco e torna all'accesso per l'azienda scelta");
    stripLayout->addWidget(close_);
    layout->addWidget(strip);

    list_->installEventFilter(this);
    list_->lineEdit()->installEventFilter(this);
    connect(list_, qOverload<int>(&QComboBox::activated), this, &CompanyWindow::picked);
    connect(close_, &QPushButton::clicked, this, &CompanyWindow::closeRequested);
}

void CompanyWindow::load() {
    std::string preselected;
    const std::vector<signin::CompanyEntry>& companies = Windows::instance().flow().companiesToSwitchTo(preselected);
    list_->clear();
    for (const signin::CompanyEntry& c : companies) list_->addItem(QString::fromStdString(c.name), c.id);
    list_->setEditText(QString::fromStdString(preselected));
}

void CompanyWindow::unloading() {
    if (Windows::instance().ending()) return;
    if (SignInWindow* signIn = Windows::instance().signIn()) signIn->show();
}

void CompanyWindow::closeRequested() {
    openPending();
    Windows::instance().flow().endCompanySwitch();
    Windows::instance().unload(this);
}

void CompanyWindow::picked(int index) {
    if (index < 0) return;
    chosenId_ = list_->itemData(index).toDouble();
    chosen_ = true;
    pending_ = true;
    close_->setFocus();
    // Moving the focus away from the list opens the company; do it here too, as the focus may not move
    // (a window that is not active gets no focus events).
    openPending();
}

void CompanyWindow::openPending() {
    if (!pending_) return;
    pending_ = false;
    Windows::instance().flow().switchCompany(chosenId_);
}

bool CompanyWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        // Tab and Enter lead to the close button only once a company is chosen; before that they leave
        // the focus in the list (the load's preselection is not a choice).
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Tab || key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (chosen_) close_->setFocus();
            return true;
        }
    } else if (event->type() == QEvent::FocusIn && watched == list_) {
        // The list hands the focus on to its text box, which keeps its own selection: select after it.
        QMetaObject::invokeMethod(list_->lineEdit(), &QLineEdit::selectAll, Qt::QueuedConnection);
    } else if (event->type() == QEvent::FocusOut && watched == list_) {
        openPending();
    }
    return ProgramWindow::eventFilter(watched, event);
}

}  // namespace vopa::app
