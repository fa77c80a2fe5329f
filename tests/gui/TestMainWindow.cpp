// The main window's build door: who may open the build window, a build through it, and stopping one.

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QPointer>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <atomic>

#include "ProgramFixture.h"
#include "app/BuildWindow.h"
#include "app/StartupWindow.h"

using vopa::testing::ProgramFixture;

class TestMainWindow : public QObject {
    Q_OBJECT

    static void signInAs(const char* user, const char* password) { ProgramFixture::signInAs(user, password); }
    static void click(const char* window, const char* button) { ProgramFixture::click(window, button); }
    // The administrator signs in and opens the build window; null when it does not appear.
    static vopa::app::BuildWindow* openBuildWindow() {
        signInAs("admin", "segreta");
        click("avvio_1", "Command6");
        if (!QTest::qWaitFor([] { return ProgramFixture::visible("creadblocale"); })) return nullptr;
        return qobject_cast<vopa::app::BuildWindow*>(ProgramFixture::window("creadblocale"));
    }

    // The texts the build window's status line shows while the window is there (it goes away when the
    // build ends).
    struct StatusLine {
        QStringList texts;
        QPointer<QLabel> label = ProgramFixture::control<QLabel>("creadblocale", "lblStatus");
        QTimer sampler;
        StatusLine() {
            QObject::connect(&sampler, &QTimer::timeout, [this] {
                if (label && (texts.isEmpty() || texts.back() != label->text())) texts << label->text();
            });
            sampler.start(2);
        }
    };

private slots:
    void exportNeedsTheAdministratorRight() {
        ProgramFixture f;
        signInAs("semplice", "pwd");
        click("avvio_1", "Command6");
        QCOMPARE(f.messages.boxes().size(), std::size_t{1});
        QVERIFY(ProgramFixture::visible("avvio_1"));
        QVERIFY(!ProgramFixture::window("creadblocale"));
    }

    void theBuildWindowHandsBackToTheMainWindow() {
        ProgramFixture f;
        signInAs("admin", "segreta");
        click("avvio_1", "Command6");
        QTRY_VERIFY(ProgramFixture::visible("creadblocale"));
        QVERIFY(!ProgramFixture::visible("avvio_1"));
        QCOMPARE(ProgramFixture::window("creadblocale")->windowTitle(), QString("Qen - Halvorix Software Solutions"));
        click("creadblocale", "Command4");
        QTRY_VERIFY(ProgramFixture::visible("avvio_1"));
        QVERIFY(!ProgramFixture::window("creadblocale"));
        // Away from the head office the build window refuses and closes.
        vopa::state::globals().CurrentOfficeNumber = 2;
        click("avvio_1", "Command6");
        QTRY_VERIFY(ProgramFixture::visible("avvio_1"));
        QVERIFY(!ProgramFixture::window("creadblocale"));
        QCOMPARE(f.messages.texts().back(), std::string("Non è possibile esportare dal DB della sede che è aperta "
                                                        "attualmente!!\nAprire la sede centrale e ritentare."));
    }

    void aWholeBuildThroughTheWindow() {
        ProgramFixture f;
        vopa::app::BuildWindow* window = openBuildWindow();
        QVERIFY(window);
        // The window's part of the build: the copy itself is tested on a full company elsewhere.
        window->setCopyStep([](vopa::state::GlobalState&, vopa::training::BuildObserver& observer, int maximum,
                               std::vector<std::string>&) {
            for (int k = 1; k <= 11; ++k) observer.progress(maximum / 12 * k, maximum);
        });
        auto* bar = ProgramFixture::control<QProgressBar>("creadblocale", "ProgressBar1");
        const int maximum = bar->maximum();
        int highest = 0;
        QObject::connect(bar, &QProgressBar::valueChanged, [&](int v) { highest = std::max(highest, v); });
        StatusLine status;
        QSignalSpy finished(window, &vopa::app::BuildWindow::buildFinished);
        f.messages.queueAnswer(vopa::ui::Answer::Yes);
        click("creadblocale", "Command1");
        QVERIFY(window->building());
        QVERIFY(!ProgramFixture::control<QPushButton>("creadblocale", "Command4")->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 240000);
        QCOMPARE(finished.at(0).at(0).toInt(), static_cast<int>(vopa::training::BuildOutcome::Completed));
        QCOMPARE(highest, maximum);
        // The window told what it was doing while it ran.
        QVERIFY2(status.texts.contains("Passo 5 di 9 — Creazione tabelle"), qPrintable(status.texts.join(" / ")));
        QTRY_VERIFY(ProgramFixture::visible("avvio_1"));
        QVERIFY(!ProgramFixture::window("creadblocale"));
    }

    // Ticked, the box adds the anonymisation to the build's steps; it is off at first.
    void theAnonymiseBoxAddsItsStep() {
        ProgramFixture f;
        vopa::app::BuildWindow* window = openBuildWindow();
        QVERIFY(window);
        window->setCopyStep([](vopa::state::GlobalState&, vopa::training::BuildObserver&, int, std::vector<std::string>&) {});
        auto* box = ProgramFixture::control<QCheckBox>("creadblocale", "chkAnonimizza");
        QCOMPARE(box->text(), QString("Anonimizza i dati personali"));
        QVERIFY(!box->isChecked());
        QVERIFY(box->toolTip().contains("codici fiscali"));
        box->setChecked(true);
        StatusLine status;
        QSignalSpy finished(window, &vopa::app::BuildWindow::buildFinished);
        f.messages.queueAnswer(vopa::ui::Answer::Yes);
        click("creadblocale", "Command1");
        QVERIFY(!box->isEnabled());  // the build runs with what it started with
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 240000);
        QCOMPARE(finished.at(0).at(0).toInt(), static_cast<int>(vopa::training::BuildOutcome::Completed));
        QVERIFY2(status.texts.contains("Passo 7 di 10 — Anonimizzazione dati personali"),
                 qPrintable(status.texts.join(" / ")));
        QVERIFY(f.messages.texts().back().find("Dati personali anonimizzati") != std::string::npos);
    }

    // Closing the window during a build asks whether to stop it; Yes ends the build after the statement
    // that runs and closes the window. Without its clip the build goes on after a warning.
    void closingDuringABuildStopsIt() {
        ProgramFixture f;
        vopa::app::BuildWindow* window = openBuildWindow();
        QVERIFY(window);
        std::atomic<bool> copying{false};
        std::atomic<bool> stopAsked{false};
        std::atomic<int> statementsAfterStop{0};
        window->setCopyStep([&](vopa::state::GlobalState&, vopa::training::BuildObserver&, int, std::vector<std::string>&) {
            vopa::data::Connection server;
            server.open("Driver=SQL Server;Server=(local);UID=;PWD=;");
            copying = true;
            for (int i = 0; i < 3000; ++i) {
                server.execute("SELECT 1");
                if (stopAsked) ++statementsAfterStop;
                QThread::msleep(5);
            }
        });
        QSignalSpy finished(window, &vopa::app::BuildWindow::buildFinished);
        f.messages.queueAnswer(vopa::ui::Answer::Yes);  // the build's question
        click("creadblocale", "Command1");
        QTRY_VERIFY_WITH_TIMEOUT(copying.load(), 120000);
        f.messages.queueAnswer(vopa::ui::Answer::Yes);  // "Interrompere ...?"
        stopAsked = true;
        window->close();
        QVERIFY(window->isVisible() || finished.count() == 1);  // the close waits for the build to stop
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        QVERIFY2(finished.at(0).at(0).toInt() == static_cast<int>(vopa::training::BuildOutcome::Interrupted),
                 qPrintable(QString::fromStdString(f.messages.texts().back())));
        QVERIFY(statementsAfterStop.load() <= 1);
        QTRY_VERIFY(!ProgramFixture::window("creadblocale"));
        QTRY_VERIFY(ProgramFixture::visible("avvio_1"));
        const std::vector<std::string> texts = f.messages.texts();
        QVERIFY(std::find(texts.begin(), texts.end(), "Interrompere la creazione del database di training?") != texts.end());
        bool warned = false;
        for (const vopa::ui::MessageBox& box : f.messages.boxes())
            warned = warned || (box.icon == vopa::ui::Icon::Exclamation && box.text.find("FILECOPY") != std::string::npos);
        QVERIFY2(warned, "no warning for the missing clip");
    }
};

QTEST_MAIN(TestMainWindow)
#include "TestMainWindow.moc"
