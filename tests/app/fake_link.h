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

    std::string resultReply, paramReply, archiveReply;
    int pendingWeights = 0;

    // A reply picked up on the next poll, as the pickup would store it.
    void deliverParams(const std::string& fileBytes) {
        paramReply = dm::ReplyTextFromBytes(fileBytes);
        pendingWeights += dm::kReplyParams;
    }
    void deliverArchive(const std::string& fileBytes) {
        archiveReply = dm::ReplyTextFromBytes(fileBytes);
        pendingWeights += dm::kReplyArchive;
    }
    void deliverResult(const std::string& fileBytes) {
        resultReply = dm::ReplyTextFromBytes(fileBytes);
        pendingWeights += dm::kReplyResult;
    }

    int GetLinkStatus() override {
        ++statusReads;
        if (!statusQueue.empty()) {
            const int s = statusQueue.front();
            statusQueue.pop_front();
            return s;
        }
        return status;
    }
    int PollReplyFiles() override {
        const int w = pendingWeights;
        pendingWeights = 0;
        return w;
    }
    std::string ResultReply() const override { return resultReply; }
    std::string ParamReply() const override { return paramReply; }
    std::string ArchiveReply() const override { return archiveReply; }
    void ClearReplies() override {
        resultReply.clear();
        paramReply.clear();
        archiveReply.clear();
    }
    void SendCommandFile(const std::string& bytes) override { sent.push_back(bytes); }
};
