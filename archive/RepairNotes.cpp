// SPDX-License-Identifier: GPL-3.0-or-later
// What a repair did, as the program's output dialog says it.
#include "Archive.h"

#include "ArchiveText.h"

namespace kiv::archive {
namespace {

std::string Why(std::int32_t reason)
{
    switch (reason) {
    case ZIP32_REPAIR_HEADER_MISSING:
        return "データの見出しが見つからないか、壊れています";
    case ZIP32_REPAIR_DATA_CUT_OFF:
        return "データが途中で切れています";
    case ZIP32_REPAIR_END_NOT_FOUND:
        return "データの終わりが見つかりません";
    case ZIP32_REPAIR_NO_CRC:
        return "データを確かめるCRCが記録されていません";
    case ZIP32_REPAIR_TOO_LARGE:
        return "4GB以上あります";
    case ZIP32_REPAIR_OVERLAPS:
        return "ほかの日記と重なっています";
    case ZIP32_REPAIR_EARLIER_COPY:
        return "同じ名前の後のものを残しました";
    case ZIP32_REPAIR_DO_NOT_INFLATE:
        return "データを展開できません";
    case ZIP32_REPAIR_CRC_MISMATCH:
        return "データがCRCと一致しません";
    default:
        return "理由不明";
    }
}

// A name from the book (code page 932 or UTF-8) or a path, for the dialog.
std::string Shown(const char* text)
{
    return detail::OutputText(text ? text : "");
}

} // namespace

std::string RepairNoteText(const ZipRepairNote& note)
{
    const std::string name = Shown(note.name);
    switch (note.kind) {
    case ZIP32_REPAIR_SOUND:
        return name + " は修復の必要がありません。";
    case ZIP32_REPAIR_DROPPED:
        return name + " を除きました（" + Why(note.reason) + "）。";
    case ZIP32_REPAIR_DAMAGED:
        return name + " はデータが壊れていますが、そのまま残しました（" + Why(note.reason) + "）。";
    case ZIP32_REPAIR_RENAMED:
        return Shown(note.former) + " を " + name + " として残しました（書庫の目次の名前がデータと合いません）。";
    case ZIP32_REPAIR_NAMES_DIFFER:
        return name + " はデータの見出しでは " + Shown(note.former) + " という名前ですが、書庫の目次の名前で残しました。";
    case ZIP32_REPAIR_CORRECTED:
        return name + " は書庫の目次の記録がデータと合わないため、データの見出しの記録で残しました。";
    case ZIP32_REPAIR_SUMMARY:
        return std::to_string(note.kept) + "件を残しました"
            + (note.damaged ? "（うち" + std::to_string(note.damaged) + "件は壊れています）" : std::string())
            + "。除いたもの" + std::to_string(note.dropped) + "件。";
    case ZIP32_REPAIR_UNCHANGED:
        return name + " はそのままにしました。壊れた日記を直すことはできません。";
    case ZIP32_REPAIR_UNCHECKED:
        return std::to_string(note.kept) + "件は暗号化されているなどのため、データを確かめずに残しました。";
    case ZIP32_REPAIR_BACKUP:
        return "修復前の書庫を " + name + " として残しました。";
    default:
        return name;
    }
}

} // namespace kiv::archive
