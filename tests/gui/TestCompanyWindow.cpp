// The company window ("Gestione azienda") driven from the keyboard: where the focus goes before and
// after a company is chosen, and the list selecting its text when it gets the focus back.

#include <QComboBox>
#include <QtTest>

#include "ProgramFixture.h"

using vopa::testing::ProgramFixture;

namespace {

QComboBox* list() { return ProgramFixture::control<QComboBox>("Avvio_Azienda", "DataAzienda"); }

// The control that has the focus; the list's own text box counts as the list.
QString focused() {
    QWidget* w = QApplication::focusWidget();
    if (w && qobject_cast<QComboBox*>(w->parentWidget())) w = w->parentWidget();
    return w ? w->objectName() : QString();
}

void press(Qt::Key key) { QTest::keyClick(list(), key); }

void choose() {
    // The arrow key picks the next company of the list, as a click in the list does.
    press(Qt::Key_Down);
}

void backToTheList() {
    list()->setFocus(Qt::OtherFocusReason);
    QTRY_COMPARE(focused(), QString("DataAzienda"));
}

struct Case {
    const char* name;
    void (*keys)();
    const char* focus;  // where the focus is afterwards
    bool selected = false;  // the list's text is selected then
};

const Case kCases[] = {
    {"Enter before a choice", [] { press(Qt::Key_Return); }, "DataAzienda"},
    {"Tab before a choice", [] { press(Qt::Key_Tab); }, "DataAzienda"},
    {"a choice", choose, "cmdClose"},
    {"Enter after a choice",
     [] {
         choose();
         backToTheList();
         press(Qt::Key_Return);
     },
     "cmdClose"},
    {"Tab after a choice",
     [] {
         choose();
         backToTheList();
         press(Qt::Key_Tab);
     },
     "cmdClose"},
    {"back to the list",
     [] {
         ProgramFixture::control<QWidget>("Avvio_Azienda", "cmdClose")->setFocus(Qt::OtherFocusReason);
         QTRY_COMPARE(focused(), QString("cmdClose"));
         backToTheList();
     },
     "DataAzienda", true},
};

}  // namespace

class TestCompanyWindow : public QObject {
    Q_OBJECT

private slots:
    void theFocusLeavesTheListOnlyAfterAChoice_data() {
        QTest::addColumn<int>("row");
        for (int row = 0; row < int(std::size(kCases)); ++row) QTest::newRow(kCases[row].name) << row;
    }

    void theFocusLeavesTheListOnlyAfterAChoice() {
        QFETCH(int, row);
        ProgramFixture f;
        ProgramFixture::signInAs("admin", "segreta");
        ProgramFixture::click("avvio_1", "Command15");
        QTRY_VERIFY(ProgramFixture::visible("Avvio_Azienda"));
        QTRY_COMPARE(focused(), QString("DataAzienda"));
        // The list opens on this computer's company.
        QCOMPARE(list()->currentText(), QString("Alfa Onlus"));
        kCases[row].keys();
        QTRY_COMPARE(focused(), QString(kCases[row].focus));
        if (kCases[row].selected) QTRY_COMPARE(list()->lineEdit()->selectedText(), QString("Alfa Onlus"));
    }
};

QTEST_MAIN(TestCompanyWindow)
#include "TestCompanyWindow.moc"
