#include "app/FrameLoop.h"

#include "media/BgrConverter.h"

#include <chrono>
#include <cmath>
#include <deque>
#include <iostream>
#include <thread>

namespace skyframe {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Two frame threads halve the decoding time the main thread waits for (720p H.264: 10.5 s
// of a 60 s flight single-threaded, 5.7 s with two). Pictures carry the index of the packet
// they came from, so the threads' delay cannot shift telemetry.
int decoderThreads() {
    return std::thread::hardware_concurrency() >= 2 ? 2 : 1;
}

// Packets read ahead of the decoder while looking for the telemetry that follows a
// picture: bounded by count and by time past the picture.
constexpr std::size_t kLookAheadLimit = 2048;

// Pictures shown before the current one, for stepping back.
constexpr std::size_t kHistoryLimit = 1024;

class Player {
public:
    Player(MediaInput& media, const PlaybackOptions& options, const FrameLoopHooks& hooks,
           FrameLoopStats& stats, std::ostream& err)
        : media_(media), options_(options), hooks_(hooks), st_(stats), err_(err),
          sync_(options.sync), packet_(av_packet_alloc()), picture_(av_frame_alloc()) {}

    void run();

private:
    bool nextPacket();
    bool readFromSource(AVPacket& packet);
    void handlePacket(AVPacket& packet);
    void handleData(const AVPacket& packet);
    void sendVideo(AVPacket* packet);
    bool receivePictures();
    bool onPicture(AVFrame& frame);
    int64_t pictureStamp(const AVFrame& frame, double time) const;
    bool chooseToShow(double time);
    bool paceOrSkip(double time);
    void present(AVFrame& frame, double time);
    void finish();
    void readAheadFor(double time);
    bool handleControls();
    bool waitWhilePaused();
    void seekTo(double videoTime);
    double pictureTime(const AVFrame& frame);
    bool done() const { return hooks_.done && hooks_.done(); }

    MediaInput& media_;
    const PlaybackOptions& options_;
    const FrameLoopHooks& hooks_;
    FrameLoopStats& st_;
    std::ostream& err_;
    TelemetrySync sync_;
    // Rows bottom first, as the backdrop copies them into the framebuffer.
    BgrConverter converter_{RowOrder::BottomFirst};
    PacketPtr packet_;
    FramePtr picture_;
    std::deque<PacketPtr> lookAhead_;
    bool ended_ = false;
    bool stopped_ = false;
    long videoPacketsSent_ = 0;
    long decodedSinceSeek_ = 0;
    double lastPictureTime_ = NAN;
    double shownTime_ = NAN;
    double seekTarget_ = NAN; // pictures before it are decoded, not shown
    std::deque<double> history_;
    bool anchored_ = false;
    Clock::time_point anchorWall_;
    double anchorTime_ = 0.0;
    bool warnedPicture_ = false;
};

void Player::run() {
    if (!packet_ || !picture_) {
        throw MediaError(media_.path() + ": out of memory");
    }
    while (!stopped_) {
        if (!nextPacket()) {
            // The decoder may still hold delayed pictures (B-frames, frame threads).
            sendVideo(nullptr);
            receivePictures();
            if (!stopped_ && hooks_.control && hooks_.control->paused && waitWhilePaused()) {
                continue; // a seek back from the last picture plays on
            }
            break;
        }
        handlePacket(*packet_);
    }
    finish();
}

void Player::finish() {
    const RecordCounts counts = sync_.counts();
    st_.records = counts.records;
    st_.usableRecords = counts.usable;
    st_.recordsUsed = sync_.recordsUsed();
    st_.syncMode = sync_.mode();
    st_.tally = sync_.tally();
}

// The next packet: first those read ahead, then the source's.
bool Player::nextPacket() {
    if (!lookAhead_.empty()) {
        av_packet_move_ref(packet_.get(), lookAhead_.front().get());
        lookAhead_.pop_front();
        return true;
    }
    return !ended_ && readFromSource(*packet_);
}

// One packet from the source, counted and timed; false (and the source ended) at its end.
bool Player::readFromSource(AVPacket& packet) {
    const auto start = Clock::now();
    const bool ok = media_.read(packet);
    st_.readSeconds += secondsSince(start);
    if (!ok) {
        ended_ = true;
        st_.timedOut = media_.timedOut();
        return false;
    }
    ++st_.packets;
    return true;
}

void Player::handlePacket(AVPacket& packet) {
    if (done()) {
        stopped_ = true;
    } else if (packet.stream_index == media_.videoStream()) {
        sendVideo(&packet);
        receivePictures();
    } else {
        handleData(packet);
    }
    av_packet_unref(&packet);
}

void Player::handleData(const AVPacket& packet) {
    const int s = packet.stream_index;
    if (s != media_.dataStream()) {
        return;
    }
    ++st_.dataPackets;
    if (hooks_.dataPacket) {
        hooks_.dataPacket(packet);
    }
    const auto start = Clock::now();
    long videoBefore = videoPacketsSent_;
    for (const PacketPtr& p : lookAhead_) {
        videoBefore += p->stream_index == media_.videoStream() ? 1 : 0;
    }
    sync_.addDataPacket(packet.data, packet.size, media_.seconds(s, packet.pts), videoBefore);
    st_.syncSeconds += secondsSince(start);
}

void Player::sendVideo(AVPacket* packet) {
    const auto start = Clock::now();
    AVCodecContext& codec = media_.decoder();
    // The decoder hands each picture out with the index of the packet it came from.
    codec.reordered_opaque = videoPacketsSent_;
    avcodec_send_packet(&codec, packet);
    if (packet != nullptr) {
        ++videoPacketsSent_;
    }
    st_.decodeSeconds += secondsSince(start);
}

// Hands out every picture the decoder has completed; false once the loop must stop reading
// this decoder's output (done, or a seek emptied it).
bool Player::receivePictures() {
    while (!stopped_) {
        const auto start = Clock::now();
        const int r = avcodec_receive_frame(&media_.decoder(), picture_.get());
        st_.decodeSeconds += secondsSince(start);
        if (r < 0) {
            // EAGAIN: needs the next packet; EOF: drained; anything else: a broken picture.
            return true;
        }
        const bool carryOn = onPicture(*picture_);
        av_frame_unref(picture_.get());
        if (!carryOn) {
            return false;
        }
    }
    return false;
}

double Player::pictureTime(const AVFrame& frame) {
    double t = media_.seconds(media_.videoStream(), frame.best_effort_timestamp);
    if (!std::isfinite(t)) {
        const double rate = media_.frameRate() > 0 ? media_.frameRate() : 30.0;
        t = std::isfinite(lastPictureTime_) ? lastPictureTime_ + 1.0 / rate : media_.startSeconds();
    }
    lastPictureTime_ = t;
    return t;
}

// The picture's own timestamp, or the one its made-up time stands for.
int64_t Player::pictureStamp(const AVFrame& frame, double time) const {
    if (frame.best_effort_timestamp != AV_NOPTS_VALUE) {
        return frame.best_effort_timestamp;
    }
    const AVRational base = media_.format().streams[media_.videoStream()]->time_base;
    return std::llround(time * base.den / base.num);
}

bool Player::onPicture(AVFrame& frame) {
    ++st_.decodedPictures;
    ++decodedSinceSeek_;
    const double time = pictureTime(frame);
    // Shown or not, the data packets read before this picture's packet are now due.
    sync_.pictureDecoded(static_cast<long>(frame.reordered_opaque));
    if (!chooseToShow(time)) {
        return true;
    }
    if (!convertible(frame)) {
        ++st_.unusablePictures;
        if (!warnedPicture_) {
            err_ << media_.path() << ": skipping a picture of size " << frame.width << "x"
                 << frame.height << " with no known pixel format" << std::endl;
            warnedPicture_ = true;
        }
        return true;
    }
    if (!paceOrSkip(time)) {
        ++st_.latePictures;
        return true;
    }
    present(frame, time);
    return handleControls();
}

// The one-in-two rule (or every picture), and nothing before a seek's target.
bool Player::chooseToShow(double time) {
    if (std::isfinite(seekTarget_)) {
        const double half = media_.frameRate() > 0 ? 0.5 / media_.frameRate() : 0.017;
        if (time < seekTarget_ - half) {
            return false;
        }
        seekTarget_ = NAN;
        decodedSinceSeek_ = 0;
        return true;
    }
    return options_.everyPicture || decodedSinceSeek_ % 2 == 0;
}

// Real-time playback: waits for the picture's moment; false when that moment has passed by
// more than a shown picture's time (the picture is skipped, the clock never slowed).
bool Player::paceOrSkip(double time) {
    if (!options_.realtime || !media_.seekable()) {
        return true;
    }
    if (!anchored_) {
        anchored_ = true;
        anchorWall_ = Clock::now();
        anchorTime_ = time;
        return true;
    }
    const double due = time - anchorTime_;
    const double now = secondsSince(anchorWall_);
    if (due > now) {
        std::this_thread::sleep_for(std::chrono::duration<double>(due - now));
        return true;
    }
    const double rate = media_.frameRate() > 0 ? media_.frameRate() : 30.0;
    const double slot = (options_.everyPicture ? 1.0 : 2.0) / rate;
    return now - due <= slot;
}

void Player::readAheadFor(double time) {
    const SyncMode mode = sync_.mode();
    if (mode == SyncMode::Queue || ended_) {
        return;
    }
    const double limit = time + options_.sync.maxGapSeconds;
    while (sync_.latestTime() < time && lookAhead_.size() < kLookAheadLimit && !ended_) {
        PacketPtr p(av_packet_alloc());
        if (!p || !readFromSource(*p)) {
            return;
        }
        if (p->stream_index == media_.dataStream()) {
            handleData(*p);
            continue;
        }
        const bool video = p->stream_index == media_.videoStream();
        const double t = media_.seconds(p->stream_index, p->dts);
        lookAhead_.push_back(std::move(p));
        if (video && std::isfinite(t) && t > limit) {
            return;
        }
    }
}

void Player::present(AVFrame& frame, double time) {
    readAheadFor(time);
    const auto syncStart = Clock::now();
    ShownPicture shown;
    shown.telemetry = sync_.forPicture(time);
    shown.sync = sync_.mode();
    st_.syncSeconds += secondsSince(syncStart);

    const auto convertStart = Clock::now();
    shown.bgr = converter_.convert(frame);
    st_.convertSeconds += secondsSince(convertStart);
    if (shown.bgr == nullptr) {
        ++st_.unusablePictures;
        return;
    }
    shown.width = converter_.width();
    shown.height = converter_.height();
    shown.time = time;
    shown.pts = pictureStamp(frame, time);
    shown.videoTime = time - media_.startSeconds();
    const double rate = media_.frameRate();
    shown.number = rate > 0 ? std::lround(shown.videoTime * rate) : st_.decodedPictures - 1;
    ++st_.processedPictures;
    shownTime_ = time;
    history_.push_back(time);
    if (history_.size() > kHistoryLimit) {
        history_.pop_front();
    }
    const auto hookStart = Clock::now();
    if (hooks_.picture) {
        hooks_.picture(shown);
    }
    st_.pictureSeconds += secondsSince(hookStart);
}

// Keys between two pictures. False when the decoder's output must not be read on (a seek
// emptied it, or the loop is done).
bool Player::handleControls() {
    if (done()) {
        stopped_ = true;
        return false;
    }
    PlaybackControl* c = hooks_.control;
    if (c == nullptr) {
        return true;
    }
    if (c->paused) {
        return !waitWhilePaused();
    }
    if (c->toStart || c->seekBy != 0.0) {
        const double target = c->toStart ? 0.0 : shownTime_ - media_.startSeconds() + c->seekBy;
        c->toStart = false;
        c->seekBy = 0.0;
        seekTo(target);
        return false;
    }
    return true;
}

// Renders the paused picture until a key moves on. True when a seek happened.
bool Player::waitWhilePaused() {
    PlaybackControl& c = *hooks_.control;
    anchored_ = false;
    while (c.paused && !done()) {
        if (c.step > 0) {
            c.step = 0;
            return false; // the next shown picture, then paused again
        }
        if (c.step < 0 || c.toStart || c.seekBy != 0.0) {
            double target = shownTime_ - media_.startSeconds() + c.seekBy;
            if (c.step < 0) {
                if (history_.size() >= 2) {
                    history_.pop_back();
                }
                target = history_.back() - media_.startSeconds();
                history_.pop_back();
            }
            if (c.toStart) {
                target = 0.0;
            }
            c.step = 0;
            c.seekBy = 0.0;
            c.toStart = false;
            seekTo(target);
            return true;
        }
        if (hooks_.idle) {
            hooks_.idle();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    if (done()) {
        stopped_ = true;
    }
    return false;
}

// Moves to the picture at `videoTime` (seconds from the first picture): back to a key frame
// early enough to rebuild the telemetry on the way, then decoding forward to the picture.
void Player::seekTo(double videoTime) {
    if (!media_.seekable()) {
        return;
    }
    const double target = std::max(0.0, videoTime) + media_.startSeconds();
    const double margin = std::max(1.0, options_.sync.maxGapSeconds);
    if (!media_.seek(target - margin)) {
        err_ << media_.path() << ": cannot seek to " << videoTime << " s" << std::endl;
        return;
    }
    lookAhead_.clear();
    ended_ = false;
    sync_.reset();
    seekTarget_ = target;
    anchored_ = false;
    lastPictureTime_ = NAN;
    if (hooks_.seeked) {
        hooks_.seeked();
    }
}

} // namespace

int runFrameLoop(const std::string& path, const PlaybackOptions& options,
                 const FrameLoopHooks& hooks, std::ostream& err, FrameLoopStats* stats) {
    FrameLoopStats local;
    FrameLoopStats& st = stats ? *stats : local;
    try {
        MediaOpenOptions mediaOptions = options.media;
        mediaOptions.decoderThreads = decoderThreads();
        MediaInput media(path, mediaOptions);
        st.dataStream = media.dataStream();
        if (hooks.opened) {
            hooks.opened(media);
        }
        Player player(media, options, hooks, st, err);
        const auto playStart = Clock::now();
        player.run();
        st.playSeconds = secondsSince(playStart);
    } catch (const MediaError& e) {
        const std::string what = e.what();
        // The codec messages keep their historical form.
        if (what == "Unsupported codec!") {
            std::cerr << what << "\n";
        } else if (what == "Couldn't copy codec context") {
            std::cerr << what << std::flush;
        } else {
            err << what << std::endl;
        }
        return -1;
    }
    return 0;
}

} // namespace skyframe
