// The scripted user: one script for each panel that opens, in turn.
#include <utility>

#include "standin/panels.h"

namespace standin {

void ScriptedUser::Then(Script script) {
    scripts_.push_back(std::move(script));
}

// Steps run in order until a Confirm or Cancel ends the panel; a list of steps
// that names neither leaves the panel as a user closing it would: cancelled.
void ScriptedUser::Then(std::vector<UserAction> actions) {
    Then([actions = std::move(actions)](PanelSession &session) {
        for (const UserAction &action : actions) {
            switch (action.kind) {
                case UserAction::Kind::ReadList:
                    session.Rows(action.label);
                    break;
                case UserAction::Kind::Pick:
                    session.Pick(action.label, action.value);
                    break;
                case UserAction::Kind::Flip:
                    session.Flip(action.label);
                    break;
                case UserAction::Kind::SetBool:
                    session.SetBool(action.label, action.value != 0);
                    break;
                case UserAction::Kind::Choose:
                    session.Choose(action.label, action.value);
                    break;
                case UserAction::Kind::Type:
                    session.Type(action.label, action.value);
                    break;
                case UserAction::Kind::Confirm:
                    return PanelOutcome::Confirm;
                case UserAction::Kind::Cancel:
                    return PanelOutcome::Cancel;
            }
        }
        return PanelOutcome::Cancel;
    });
}

// Scripts are handed out once each, first in first out, so that Pending()
// and HasScript() count only the scripts still to come.
ScriptedUser::Script ScriptedUser::Next() {
    if (scripts_.empty()) return {};
    Script script = std::move(scripts_.front());
    scripts_.erase(scripts_.begin());
    return script;
}

}  // namespace standin
