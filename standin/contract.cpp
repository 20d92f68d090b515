// The rules' texts, the violation handler, and how a host records a breach.
#include <utility>

#include "standin/host_internal.h"

namespace standin {

namespace {

ViolationHandler &Handler() {
    static ViolationHandler handler;
    return handler;
}

}  // namespace

std::string_view RuleText(Rule rule) {
    switch (rule) {
        case Rule::AttributeKeyOfTheEnvelope:
            return "egGet and egSet take a key of the call's envelope in the channel-group "
                   "position";
        case Rule::GlobalFunSetBeforeControls:
            return "the panel services' globalFun is set to this activation's lookup before a "
                   "control is added or a panel opened";
        case Rule::PanelDataIsTheServiceTable:
            return "create receives the panel services table itself as the panel's data";
        case Rule::NoCallOnADestroyedPanel:
            return "no call on a destroyed panel or on its controls";
        case Rule::PanelDestroyedOnce:
            return "a panel is destroyed once";
        case Rule::PanelDestroyedBeforeReturn:
            return "every panel an activation created is destroyed before the activation returns";
        case Rule::ValueRecordIsInteger:
            return "control get and set pass a value record of type LWT_INTEGER (2)";
        case Rule::KeyOfTheEnvelope:
            return "key and envelope identifiers are the host's, and the key belongs to the call's "
                   "envelope";
        case Rule::NoDestroyedKey:
            return "a destroyed key is never used again";
        case Rule::KnownIdentifier:
            return "item, channel-group, channel, panel and control identifiers are ones the host "
                   "handed out";
    }
    return "unknown rule";
}

std::ostream &operator<<(std::ostream &out, const Violation &violation) {
    return out << violation.call << "(" << violation.arguments << "): " << RuleText(violation.rule);
}

ViolationHandler SetViolationHandler(ViolationHandler handler) {
    return std::exchange(Handler(), std::move(handler));
}

void Host::Violate(Rule rule, const char *service, const char *operation, std::string arguments) {
    violations_.push_back(
        Violation{std::string(service) + " " + operation, std::move(arguments), rule});
    if (Handler()) Handler()(violations_.back());
}

}  // namespace standin
