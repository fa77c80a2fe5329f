#include "AnimationControl.h"

#include <QImage>
#include <QPixmap>
#include <algorithm>

namespace vopa::ui {

AnimationControl::AnimationControl(QWidget* parent) : QLabel(parent) {
    setAlignment(Qt::AlignCenter);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { advance(); });
}

void AnimationControl::open(const std::string& linuxPath) {
    stop();
    clip_.reset();
    current_ = -1;
    clear();
    clip_ = AviClip::open(linuxPath);
    // One timer period per frame; a clip claiming less than a millisecond or more than a minute per
    // frame is played at the nearest of the two.
    const std::int64_t milliseconds = (clip_->microsecondsPerFrame() + 500) / 1000;
    timer_.setInterval(static_cast<int>(std::clamp<std::int64_t>(milliseconds, 1, 60'000)));
    showFrame(0);
    if (autoPlay_) play();
}

void AnimationControl::play(int repeat, int from, int to) {
    if (!clip_) throw AviError("No animation clip is open.");
    const int last = clip_->frameCount() - 1;
    if (to == -1) to = last;
    if (from < 0 || from > last || to < from || to > last) {
        throw AviError("Frames " + std::to_string(from) + " to " + std::to_string(to) +
                       " are not in the animation clip, which has frames 0 to " + std::to_string(last) + ".");
    }
    timer_.stop();
    from_ = from;
    to_ = to;
    repeat_ = repeat;
    passes_ = 0;
    showFrame(from);
    if (repeat != 0) timer_.start();
}

void AnimationControl::stop() { timer_.stop(); }

void AnimationControl::advance() {
    int next = current_ + 1;
    if (next > to_) {
        ++passes_;
        if (repeat_ >= 0 && passes_ >= repeat_) {
            stop();
            return;
        }
        next = from_;
    }
    showFrame(next);
}

void AnimationControl::showFrame(int index) {
    std::vector<std::uint32_t> pixels;
    try {
        pixels = clip_->frame(index);
    } catch (const AviError&) {
        // The clip was checked when it was opened; a frame that still fails ends the animation rather
        // than leaving the timer's handler through an exception.
        stop();
        return;
    }
    // AviClip's 0xAARRGGBB words are QImage::Format_ARGB32's pixel layout.
    const QImage image(reinterpret_cast<const uchar*>(pixels.data()), clip_->width(), clip_->height(),
                       clip_->width() * 4, QImage::Format_ARGB32);
    setPixmap(QPixmap::fromImage(image));
    current_ = index;
}

}  // namespace vopa::ui
