#pragma once
// A device link driven by the test: link statuses to report, replies to hand in on a
// given poll, and a record of every command file pushed.
#include "core/reply_text.h"
#include "link/exchange_cycle.h"

#include <deque>
#include <string>
#include <vector>

class FakeLink : public dm::ExchangeLink {
public:
    int status = dm::kLinkNone;        // reported by every read once the queue is empty
    std::deque<int> statusQueue;       // one-shot statuses, read first
    std::vector<std::string> sent;     // command files pushed, in order
    int statusReads = 0;

    std::string resultText, paramText, archiveText;
    int pendingWeights = 0;

    // A reply picked up on the next poll, as the pickup would store it.
    void deliverParams(const std::string& fileBytes) {
        paramText = dm::ReplyTextFromBytes(fileBytes);
        pendingWeights += dm::kReplyParams;
    }
    void deliverArchive(const std::string& fileBytes) {
        archiveText = dm::ReplyTextFromBytes(fileBytes);
        pendingWeights += dm::kReplyArchive;
    }
    void deliverResult(const std::string& fileBytes) {
        resultText = dm::ReplyTextFromBytes(fileBytes);
        pendingWeights += dm::kReplyResult;
    }

    int takeLinkStatus() override {
        ++statusReads;
        if (!statusQueue.empty()) {
            const int s = statusQueue.front();
            statusQueue.pop_front();
            return s;
        }
        return status;
    }
    int pollReplyFiles() override {
        const int w = pendingWeights;
        pendingWeights = 0;
        return w;
    }
    std::string resultReply() const override { return resultText; }
    std::string paramReply() const override { return paramText; }
    std::string archiveReply() const override { return archiveText; }
    void clearReplies() override {
        resultText.clear();
        paramText.clear();
        archiveText.clear();
    }
    void sendCommandFile(const std::string& bytes) override { sent.push_back(bytes); }
};
