#pragma once
// The download receiver: a state machine fed with the bytes the port delivers
// (in chunks of any size) that asks for frames to be written through a
// callback.  It never owns the port; the download window and the tests only
// connect it to one.
//
// Replies are assembled from the byte stream by their markers and, for block
// and series replies, by the length that follows from the request, so any
// chunking (a reply cut anywhere, several replies in one chunk) gives the same
// requests and the same image as one reply per chunk.

#include "device/memory_image.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>

namespace device {

// Per-archive part of the download state.  The series fields are used by
// archives 1 and 2 only.
struct ArchiveState {
    int32_t RecordCount = 0;     // unsigned 16-bit count from the header
    int32_t FullBlocks = 0;      // RecordCount div 16
    uint8_t LastBlockSize = 0;   // RecordCount mod 16
    int32_t NextBlock = 0;       // next block to request; -1 once the last one was requested
    bool AwaitingBlock = false;  // a block request is out and its reply not stored
    uint16_t StoredBytes = 0;    // bytes appended to the archive buffer

    bool SeriesReady = false;
    int32_t SeriesRecord = 0;    // record whose series is being fetched
    int32_t ChunkIndex = 0;      // runs already requested for that record
    int32_t FullChunks = 0;
    int32_t LastChunkSize = 0;
    bool AwaitingChunk = false;  // a series request is out and its reply not stored
    int32_t SeriesBytes = 0;     // bytes appended to the series buffer
};

// One per program, owned by the download window; the decoders read RecordCount.
struct DownloadState {
    bool ReplyComplete = false;
    bool DeviceFound = false;
    bool HeaderReceived = false;
    std::array<ArchiveState, kArchiveCount> archive{};

    int32_t RecordCount(int a) const { return archive[a].RecordCount; }
};

// Texts of the download window the receiver writes.
enum class Text {
    Status,           // StaticText2
    DeviceType,       // StaticText5
    SoftwareVersion,  // StaticText1
    RecordCounts,     // StaticText7
    Archive0,         // StaticText8
    Archive1,         // StaticText9
    Archive2,         // StaticText10
};

enum class Outcome { Pending, Ok, Cancel };

struct ReceiverCallbacks {
    // Bytes for the instrument (one whole frame per call).
    std::function<void(QByteArrayView)> write;
    std::function<void(Text, const QString&)> setText;
    // bar 0..2 = ProgressBar1..ProgressBar3
    std::function<void(int bar, int maximum)> setProgressMaximum;
    std::function<void(int bar, int position)> setProgressPosition;
    // The instrument has answered: stop the detection timer (Timer1).
    std::function<void()> deviceAnswered;
    // The download ended: Ok when complete; Cancel with a text for the user
    // when the instrument sent what the image cannot take.
    std::function<void(Outcome, const QString& error)> finished;
};

class Receiver {
public:
    // Frames sizes and commands on the wire.
    static constexpr int BlockRecords = 16;   // records per block request
    static constexpr int WaitingRun = 32;     // points per series run, archive 1
    static constexpr int ObservationRun = 64; // points per series run, archive 2

    Receiver(MemoryImage& image, DownloadState& state, ReceiverCallbacks callbacks = {});

    void setCallbacks(ReceiverCallbacks callbacks) { cb_ = std::move(callbacks); }

    // Start of a download (showing the window): clears the download state,
    // the series buffers and tables of the image, and the stream assembly.
    void reset();

    // Identification request; clears HeaderReceived.
    void Com_Connect();
    // Block request: count records of the archive from record index first.
    void Com_Send(int archive, uint16_t first, uint8_t count);
    // Series request: count points of the archive at the 32-bit start.
    void Com_Send2(int archive, uint32_t start, uint8_t count);

    // The receive handler: any chunk of bytes from the port.
    void CommPortDriver1ReceiveData(const char* data, qsizetype size);
    void CommPortDriver1ReceiveData(QByteArrayView data) { CommPortDriver1ReceiveData(data.data(), data.size()); }

    Outcome outcome() const { return outcome_; }
    // Set when the completion check found an archive incomplete (the window
    // then says which and waits for Cancel).
    bool incomplete() const { return incomplete_; }

    const DownloadState& state() const { return st_; }

private:
    void handleReply(const uint8_t* frame, qsizetype n);
    bool extractFrame(qsizetype& length);
    void runArchiveSteps();
    void blockStep(int a);
    void tableStep(int a);
    void seriesStep(int a);
    void completionCheck();
    bool requestOutstanding() const;
    void fail(const QString& text);
    void send(QByteArrayView frame);
    void setText(Text t, const QString& s);
    void setMax(int bar, int v);
    void setPos(int bar, int v);

    MemoryImage& img_;
    DownloadState& st_;
    ReceiverCallbacks cb_;
    QByteArray pending_;           // bytes not yet assembled into a reply
    bool lastByteWasStart_ = false;  // for a start marker split across chunks
    bool deviceTypeShown_ = false;   // StaticText5 is not empty
    bool sentThisReply_ = false;
    int blockAsked_ = 0;             // records asked by the last block request
    int runAsked_ = 0;               // points asked by the last series request
    Outcome outcome_ = Outcome::Pending;
    bool incomplete_ = false;
};

}  // namespace device
