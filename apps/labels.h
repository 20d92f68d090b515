// What the programs drive the module by: its two command servers, and the
// labels of its panels' controls as a user reads them (UTF-8).
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
// The paste panel.
inline constexpr const char *PASTE_START_FRAME = "貼り付け開始フレーム";

}  // namespace labels
}  // namespace apps
