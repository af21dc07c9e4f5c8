#include "install/Journal.h"

#include <cstdlib>
#include <cstring>

namespace {

const char kMagic[] = "VELJOURNAL 1";

const char* PhaseName(JournalPhase phase) {
    switch (phase) {
    case JournalPhase::Staging:
        return "staging";
    case JournalPhase::Commit:
        return "commit";
    case JournalPhase::Rollback:
        return "rollback";
    }
    return "staging";
}

// A decimal number of at most 10 digits that fits 32 bits, and nothing else.
bool ParseNumber(const std::string& text, uint32_t* value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > 0xFFFFFFFFu) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

// Splits "<word> <rest>" at the first blank; rest may hold blanks of its own.
void SplitWord(const std::string& line, std::string* word, std::string* rest) {
    size_t blank = line.find(' ');
    *word = line.substr(0, blank);
    *rest = blank == std::string::npos ? std::string() : line.substr(blank + 1);
}

}  // namespace

bool IsJournalTarget(const std::string& target) {
    if (target.empty()) return false;
    for (unsigned char c : target) {
        if (c < 0x20) return false;
    }
    return true;
}

std::string StagedName(uint32_t slot) { return "s" + std::to_string(slot); }
std::string OriginalName(uint32_t slot) { return "o" + std::to_string(slot); }
std::string RemovedName(uint32_t slot) { return "d" + std::to_string(slot); }
std::string AttributesName(uint32_t slot) { return "a" + std::to_string(slot); }

std::string EncodeJournal(const Journal& journal) {
    std::string text = kMagic;
    text += "\nphase ";
    text += PhaseName(journal.phase);
    text += "\nto " + std::to_string(journal.toVersion) + "\n";
    for (const JournalOp& op : journal.ops) {
        switch (op.kind) {
        case OpKind::Dir:
            text += "dir " + op.target + "\n";
            break;
        case OpKind::Put:
            text += "put " + std::to_string(op.slot) + " " + op.target + "\n";
            break;
        case OpKind::Remove:
            text += "remove " + std::to_string(op.slot) + " " + op.target + "\n";
            break;
        case OpKind::Merge:
            text += "merge " + std::to_string(op.slot) + "\n";
            break;
        }
    }
    text += "end\n";
    return text;
}

bool DecodeJournal(const std::string& text, Journal* journal) {
    Journal out;
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) return false;  // every line, the last included, ends with LF
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (lines.size() < 4 || lines[0] != kMagic || lines.back() != "end") return false;

    std::string word, rest;
    SplitWord(lines[1], &word, &rest);
    if (word != "phase") return false;
    if (rest == "staging") {
        out.phase = JournalPhase::Staging;
    } else if (rest == "commit") {
        out.phase = JournalPhase::Commit;
    } else if (rest == "rollback") {
        out.phase = JournalPhase::Rollback;
    } else {
        return false;
    }
    SplitWord(lines[2], &word, &rest);
    if (word != "to" || !ParseNumber(rest, &out.toVersion)) return false;

    for (size_t i = 3; i + 1 < lines.size(); ++i) {
        JournalOp op;
        SplitWord(lines[i], &word, &rest);
        if (word == "dir") {
            op.kind = OpKind::Dir;
            op.target = rest;
        } else if (word == "merge") {
            op.kind = OpKind::Merge;
            if (!ParseNumber(rest, &op.slot)) return false;
            out.ops.push_back(op);
            continue;
        } else if (word == "put" || word == "remove") {
            op.kind = word == "put" ? OpKind::Put : OpKind::Remove;
            std::string number;
            SplitWord(rest, &number, &op.target);
            if (!ParseNumber(number, &op.slot)) return false;
        } else {
            return false;
        }
        if (!IsJournalTarget(op.target)) return false;
        out.ops.push_back(op);
    }
    *journal = out;
    return true;
}

RecoveryAction DecideRecovery(bool stagingExists, const std::string* journalText, Journal* journal) {
    if (!stagingExists) return RecoveryAction::None;
    // The journal is written before anything of the client is touched; without it the staging
    // folder holds only staged copies.
    if (journalText == nullptr) return RecoveryAction::RemoveStaging;
    if (!DecodeJournal(*journalText, journal)) return RecoveryAction::Stuck;
    switch (journal->phase) {
    case JournalPhase::Staging:
        return RecoveryAction::RemoveStaging;
    case JournalPhase::Commit:
        return RecoveryAction::RollForward;
    case JournalPhase::Rollback:
        return RecoveryAction::RollBack;
    }
    return RecoveryAction::Stuck;
}
