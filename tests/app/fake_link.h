#pragma once
// A device link driven by the test: link statuses to report, replies to hand in on a
// given poll, and a record of every command file pushed.
#include "core/reply_text.h"
#include "link/exchange_cycle.h"

#include <deque>
#include <utility>
#include <string>
#include <vector>

class FakeLink : public dm::ExchangeLink {
public:
    int status = dm::kLinkNone;        // reported by every read once the queue is empty
    std::deque<int> statusQueue;       // one-shot statuses, read first
    std::vector<std::string> sent;     // command files pushed, in order
    int statusReads = 0;

    dm::TakenReplies pending; // taken in by the next poll

    // A reply picked up on the next poll, as the pickup would read it.
    void deliverParams(const std::string& fileBytes) { pending.parameters = dm::ReplyTextFromBytes(fileBytes); }
    void deliverArchive(const std::string& fileBytes) { pending.archive = dm::ReplyTextFromBytes(fileBytes); }
    void deliverResult(const std::string& fileBytes) { pending.result = dm::ReplyTextFromBytes(fileBytes); }

    int takeLinkStatus() override {
        ++statusReads;
        if (!statusQueue.empty()) {
            const int s = statusQueue.front();
            statusQueue.pop_front();
            return s;
        }
        return status;
    }
    dm::TakenReplies pollReplyFiles() override { return std::exchange(pending, {}); }
    void sendCommandFile(const std::string& bytes) override { sent.push_back(bytes); }
};
