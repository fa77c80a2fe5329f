#include <QtTest>

#include "platform/ui/AnimationControl.h"

namespace ui = vopa::ui;

// The clip as the program finds it: copied beside the program file by the build.
static const std::string clipPath = VOPA_PROGRAM_CLIP;

// The control's picture, as 0xAARRGGBB words.
static std::vector<std::uint32_t> shown(const ui::AnimationControl& control) {
    const QImage image = control.pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
    std::vector<std::uint32_t> pixels;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const std::uint32_t*>(image.constScanLine(y));
        pixels.insert(pixels.end(), line, line + image.width());
    }
    return pixels;
}

class TestAnimationControl : public QObject {
    Q_OBJECT
private slots:
    void opensOnTheFirstFrameWithoutPlaying() {
        ui::AnimationControl control;
        control.open(clipPath);
        QCOMPARE(control.currentFrame(), 0);
        QVERIFY(!control.isPlaying());
        QCOMPARE(control.pixmap().size(), QSize(272, 60));
        ui::AviClip clip = ui::AviClip::open(clipPath);
        QVERIFY(shown(control) == clip.frame(0));
        // With automatic play, opening starts it.
        control.setAutoPlay(true);
        control.open(clipPath);
        QVERIFY(control.isPlaying());
        control.setAutoPlay(false);
        control.open(clipPath);
        QVERIFY(!control.isPlaying());
        QCOMPARE(control.currentFrame(), 0);
    }

    void advancesWhileTheEventLoopRunsAndStopsOnStop() {
        ui::AnimationControl control;
        control.show();
        control.open(clipPath);
        control.play();
        QVERIFY(control.isPlaying());
        QTRY_VERIFY_WITH_TIMEOUT(control.currentFrame() >= 3, 5000);
        control.stop();
        QVERIFY(!control.isPlaying());
        const int stoppedAt = control.currentFrame();
        QTest::qWait(300);  // several frame periods
        QCOMPARE(control.currentFrame(), stoppedAt);
        // The picture is the frame it stopped on.
        ui::AviClip clip = ui::AviClip::open(clipPath);
        QVERIFY(shown(control) == clip.frame(stoppedAt));
    }

    void endlessPlayWrapsInItsRangeACountedPlayEndsOnItsLastFrame() {
        ui::AnimationControl control;
        control.open(clipPath);
        control.play(-1, 17, 19);
        QCOMPARE(control.currentFrame(), 17);
        QTRY_VERIFY_WITH_TIMEOUT(control.currentFrame() == 19, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(control.currentFrame() == 17, 5000);
        QVERIFY(control.isPlaying());
        control.play(2, 4, 6);
        QTRY_VERIFY_WITH_TIMEOUT(!control.isPlaying(), 5000);
        QCOMPARE(control.currentFrame(), 6);
        control.play(0, 9);  // no repeat: shows the first frame of the range only
        QVERIFY(!control.isPlaying());
        QCOMPARE(control.currentFrame(), 9);
    }

    void refusesMissingClipsAndFramesOutsideTheClip() {
        ui::AnimationControl control;
        QVERIFY_THROWS_EXCEPTION(ui::AviError, control.play());
        control.open(clipPath);
        control.play();
        QVERIFY_THROWS_EXCEPTION(ui::AviError, control.open(clipPath + ".missing"));
        QVERIFY(!control.isPlaying());
        QCOMPARE(control.currentFrame(), -1);
        QVERIFY(control.pixmap().isNull());
        control.open(clipPath);
        QVERIFY_THROWS_EXCEPTION(ui::AviError, control.play(-1, 20));
        QVERIFY_THROWS_EXCEPTION(ui::AviError, control.play(-1, 5, 4));
        QVERIFY_THROWS_EXCEPTION(ui::AviError, control.play(-1, 0, 20));
        QVERIFY(!control.isPlaying());
    }
};

QTEST_MAIN(TestAnimationControl)
#include "TestAnimationControl.moc"
