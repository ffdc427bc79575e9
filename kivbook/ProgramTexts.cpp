// SPDX-License-Identifier: GPL-3.0-or-later
// The English of the program's own Japanese texts that reach kivbook's
// output: the archive layer's messages, the day record's and the file
// helpers' errors, the error report's and the search window's texts. A new
// message of those layers that kivbook can print gets its row here; "%s"
// stands for a part that varies (a name, a number, another message).
#include "Language.h"

#include <vector>

namespace kiv::kivbook {
namespace {

struct Row {
    std::string_view japanese;
    std::string_view english;
};

constexpr Row kRows[] = {
    // The archive layer.
    { "圧縮中にエラーが発生しました。", "An error occurred while compressing." },
    { "修復中にエラーが発生しました。", "An error occurred while repairing." },
    { "日記書庫内の日記を削除中にエラーが発生しました。", "An error occurred while deleting the day from the diary book." },
    { "日記の名前に \" を含めることはできません: %s", "A diary's name cannot contain \": %s" },
    { "UnZip32.dll は、現在ほかのプロセスに呼び出されていて、使えません。",
        "UnZip32.dll is being used by another process and cannot be used now." },
    { "選んだファイルは、書庫として正しくありません。", "The chosen file is not a valid archive." },
    { "書庫を開けません。", "The archive cannot be opened." },
    { "書庫を閉じられません。", "The archive cannot be closed." },
    { "格納ファイル %s は大きすぎて扱えません。", "The member %s is too large to handle." },
    { "作業用のフォルダを %s に作れません", "A working folder cannot be made in %s" },
    { "日記 %s を読めません", "The diary %s cannot be read" },
    { "日記 %s を読めないので、日記を合わせられません。", "The day %s cannot be read, so the books cannot be merged." },
    { "日記を合わせられませんでした。", "The books could not be merged." },
    { "ｔオプションの記述が間違えています。", "The t option is written wrongly." },
    { "オプションに %s はありません。", "There is no option %s." },
    { "テンポラリーディレクトリーの取得に失敗しました。", "The temporary directory could not be found." },
    // Why a book was not written.
    { "このユーザーには %s を書き換える権限がありません。", "This user may not rewrite %s." },
    { "%s は読み取り専用です。", "%s is read-only." },
    { "日記はほかのプロセスが書き込み中です。", "Another process is writing the diary." },
    { "日記はプロセス %s が書き込み中です。", "Process %s is writing the diary." },
    { "%s はロックファイルとして使えません。取り除いてください。", "%s cannot serve as a lock file; remove it." },
    { "シンボリックリンク %s はたどれません。", "The symbolic link %s is not followed." },
    { "%s はほかのプログラムが変更し続けています。", "Other programs keep changing %s." },
    // The extraction's result codes.
    { "解凍するためのディスクの空き容量が足りません。", "There is not enough free disk space to extract." },
    { "解凍先のファイルはリードオンリーです。", "The destination file is read-only." },
    { "ユーザーによって解凍をスキップされました。", "The extraction was skipped by the user." },
    { "格納ファイルの種類が\u3000MS-DOS で扱える形式以外です。", "The member's type is not one that MS-DOS can handle." },
    { "UNZIP32.DLL で扱えない格納モードになっています。", "The member is stored in a mode that UNZIP32.DLL cannot handle." },
    { "格納ファイルにパスワードがかかっています。", "The member is protected by a password." },
    { "格納ファイルは\u3000UNZIP32.DLL が対応していないバージョンの形式です。",
        "The member is in a format version that UNZIP32.DLL does not support." },
    { "格納ファイルのチェックサムがあっていません。", "The member's checksum does not match." },
    { "解凍時にファイルを開けませんでした。", "A file could not be opened while extracting." },
    { "格納ファイルの中のものより新しいファイルが解凍先に存在します。",
        "A file newer than the member exists at the destination." },
    { "ファイルは解凍先に存在しません。", "The file does not exist at the destination." },
    { "ファイルはすでに解凍先に存在します。", "The file already exists at the destination." },
    { "格納ファイル数が限界を超えています。処理は正常に行われていますが、限界を超えた部分については情報が得られていま"
      "せん。",
        "The archive holds more members than the limit. The work was done, but nothing is known of the members "
        "beyond the limit." },
    { "ディレクトリーが作成できません。", "A directory cannot be created." },
    { "解凍中に書き込みエラーが発生しました。", "A write error occurred while extracting." },
    { "格納ファイルのハフマンコードが壊れています。", "The member's Huffman codes are damaged." },
    { "格納ファイルのコメントヘッダーが壊れています。", "The member's comment header is damaged." },
    { "格納ファイルのヘッダーのチェックサムが合っていません。", "The checksum of the member's header does not match." },
    { "格納ファイルのヘッダーが壊れています。", "The member's header is damaged." },
    { "格納ファイルを開くことが出来ません。", "The member cannot be opened." },
    { "指定したファイルは、書庫ではありません。", "The file given is not an archive." },
    { "格納ファイルで読み込みエラーが発生しました。", "A read error occurred in the member." },
    { "指定されたファイルは、書庫ではありません。", "The specified file is not an archive." },
    { "コマンド指定が間違っています。", "The command is wrong." },
    { "作業用のヒープメモリーが不足しています。", "There is not enough heap memory to work with." },
    { "グローバルメモリーが不足しています。", "There is not enough global memory." },
    { "すでに UNZIP32.DLL が別のプロセスから呼ばれています。", "UNZIP32.DLL is already being called by another process." },
    { "解凍中にエラーが発生しました。", "An error occurred while extracting." },
    // The day record.
    { "不正なストリーム フォーマット", "Invalid stream format" },
    { "ストリームからの読み込みエラー", "Error reading from the stream" },
    { "プロパティが存在しません", "The property does not exist" },
    { "不正なプロパティの値です", "Invalid property value" },
    { "不正なプロパティのパスです", "Invalid property path" },
    { "ビットマップイメージが不正です", "Invalid bitmap image" },
    { "クラス %s が見つかりません", "Class %s not found" },
    { "%s の読み込み中のエラー : %s", "Error reading %s: %s" },
    // Files and text encoding.
    { "ファイル %s を作成できません", "Cannot create the file %s" },
    { "ファイル %s は大きすぎて扱えません (%s MB まで)", "The file %s is too large to handle (at most %s MB)" },
    { "ファイル %s は開けません", "Cannot open the file %s" },
    { "文字「%s」(%s) はコードページ 932 で表せません", "The character \"%s\" (%s) cannot be written in code page 932" },
    // The error report.
    { "メモリが不足しています", "Out of memory" },
    { "予期しないエラーが発生しました", "An unexpected error occurred" },
    // The search window and the message boxes' buttons.
    { "キーワードが書き込まれていないと、検索できません。", "Without a keyword there is nothing to search for." },
    { "%s件ヒットしました。", "Days found: %s" },
    { "%sの検索に失敗しました。", "The search of %s failed." },
    { "はい", "Yes" },
    { "いいえ", "No" },
    { "キャンセル", "Cancel" },
    // A message and its cause, a line each; last, as it fits any two lines.
    { "%s\n%s", "%s\n%s" },
};

// The parts of text that stand where the pattern has "%s" (each but the
// last the shortest that lets the next literal piece follow), or nothing
// when the text is not made from the pattern.
std::optional<std::vector<std::string>> Match(std::string_view pattern, std::string_view text)
{
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0;;) {
        const std::size_t at = pattern.find("%s", start);
        pieces.push_back(pattern.substr(start, at == std::string_view::npos ? at : at - start));
        if (at == std::string_view::npos)
            break;
        start = at + 2;
    }
    if (pieces.size() == 1)
        return text == pattern ? std::optional(std::vector<std::string> {}) : std::nullopt;
    const std::string_view front = pieces.front(), back = pieces.back();
    if (text.size() < front.size() + back.size() || !text.starts_with(front) || !text.ends_with(back))
        return std::nullopt;
    std::string_view rest = text.substr(front.size(), text.size() - front.size() - back.size());
    std::vector<std::string> parts;
    for (std::size_t i = 1; i + 1 < pieces.size(); ++i) {
        const std::size_t at = rest.find(pieces[i]);
        if (at == std::string_view::npos)
            return std::nullopt;
        parts.emplace_back(rest.substr(0, at));
        rest.remove_prefix(at + pieces[i].size());
    }
    parts.emplace_back(rest);
    return parts;
}

} // namespace

std::optional<std::string> EnglishOf(std::string_view japanese)
{
    for (const Row& row : kRows) {
        const auto parts = Match(row.japanese, japanese);
        if (!parts)
            continue;
        // A part may itself be one of the texts (the message inside "… の読み込み中のエラー : …").
        std::vector<std::string> shown;
        for (const std::string& part : *parts)
            shown.push_back(EnglishOf(part).value_or(part));
        return Fill(row.english, shown);
    }
    return std::nullopt;
}

} // namespace kiv::kivbook
