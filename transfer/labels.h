// The module's texts as a user reads them (UTF-8): its two command servers,
// the labels of its panels' controls, the group popup's own entries and its
// messages. The programs drive the module by these, and the suites find
// controls and check messages by them.
#pragma once

namespace apps {

inline constexpr const char *COPY_SERVER = "Ruxo_Tamberlo copy";
inline constexpr const char *PASTE_SERVER = "Ruxo_Tamberlo paste";

namespace labels {

// The copy panel.
inline constexpr const char *START_FRAME = "開始フレーム";
inline constexpr const char *END_FRAME = "終了フレーム";
inline constexpr const char *ITEM = "アイテム";
inline constexpr const char *CHANNEL = "チャンネル";
inline constexpr const char *ENABLED = "有効";
inline constexpr const char *SWITCH_ALL = "一括切り替え";
inline constexpr const char *SAVE_SET = "セット保存";
inline constexpr const char *LOAD_SET = "セット読込";
inline constexpr const char *OTHERS = "その他";
inline constexpr const char *ALL = "すべて";

// The paste panel.
inline constexpr const char *PASTE_START_FRAME = "貼り付け開始フレーム";

// Messages.
inline constexpr const char *NO_ITEM_SELECTED = "アイテムが選ばれていません。";
inline constexpr const char *NOTHING_COPIED = "モーションがコピーされていません";
inline constexpr const char *COUNT_MISMATCH = "コピー元と選択アイテムの数が一致しません。";

}  // namespace labels
}  // namespace apps
