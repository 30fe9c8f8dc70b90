#pragma once
// A receiver wired to a simulated instrument through an in-memory "port"
// that can deliver the instrument's bytes whole, cut at random points, byte
// by byte, or everything queued at once.

#include "device/receiver.h"
#include "tools/sim/instrument.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <memory>
#include <random>

enum class Chunking { Whole, Random, Bytes, AllQueued };

struct FakeLink {
    std::unique_ptr<device::MemoryImage> image = std::make_unique<device::MemoryImage>();
    device::DownloadState state;
    device::Receiver rx{*image, state};
    sim::Instrument instrument;
    QList<QByteArray> requests;   // every frame the receiver wrote
    QList<QByteArray> replies;    // instrument output not yet delivered, one entry per answer
    QMap<device::Text, QString> texts;
    QMap<int, int> barMax, barPos;
    device::Outcome outcome = device::Outcome::Pending;
    QString error;
    int finishedCalls = 0;
    int deviceAnswered = 0;

    explicit FakeLink(sim::Archives archives, sim::Faults faults = {})
        : instrument(std::move(archives), faults)
    {
        device::ReceiverCallbacks cb;
        cb.write = [this](QByteArrayView f) {
            requests << f.toByteArray();
            const QByteArray r = instrument.feed(f);
            if (!r.isEmpty())
                replies << r;
        };
        cb.setText = [this](device::Text t, const QString& s) { texts[t] = s; };
        cb.setProgressMaximum = [this](int b, int m) { barMax[b] = m; };
        cb.setProgressPosition = [this](int b, int p) { barPos[b] = p; };
        cb.deviceAnswered = [this] { ++deviceAnswered; };
        cb.finished = [this](device::Outcome o, const QString& e) {
            outcome = o;
            error = e;
            ++finishedCalls;
        };
        rx.setCallbacks(cb);
    }

    // Starts a download and pumps until nothing is left to deliver.
    void run(Chunking mode = Chunking::Whole, uint32_t seed = 1, int maxChunks = 10'000'000)
    {
        rx.reset();
        rx.Com_Connect();
        pump(mode, seed, maxChunks);
    }

    void pump(Chunking mode = Chunking::Whole, uint32_t seed = 1, int maxChunks = 10'000'000)
    {
        std::mt19937 rng(seed);
        QByteArray stream;
        while ((!replies.isEmpty() || !stream.isEmpty()) && maxChunks-- > 0) {
            QByteArray chunk;
            switch (mode) {
            case Chunking::Whole:
                chunk = replies.takeFirst();
                break;
            case Chunking::AllQueued:
                for (const QByteArray& r : replies)
                    chunk += r;
                replies.clear();
                break;
            case Chunking::Random:
            case Chunking::Bytes:
                for (const QByteArray& r : replies)
                    stream += r;
                replies.clear();
                {
                    const qsizetype n = mode == Chunking::Bytes ? 1 : qsizetype(1 + rng() % 300);
                    chunk = stream.left(n);
                    stream.remove(0, chunk.size());
                }
                break;
            }
            rx.CommPortDriver1ReceiveData(chunk);
        }
    }

    // Block and series requests only (identification requests left out).
    QList<QByteArray> dataRequests() const
    {
        QList<QByteArray> out;
        for (const QByteArray& r : requests)
            if (r.size() > 4 && r[4] != 0x02)
                out << r;
        return out;
    }
};
