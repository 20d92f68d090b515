// The host contract as the stand-in host enforces it. Every call a module
// makes is checked against these rules; a call that breaks one is still
// answered as leniently as before, and the breach is kept in the host's report
// and handed to the process-wide violation handler, so that a test fails at
// the call that broke the contract rather than at some later symptom.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

namespace standin {

enum class Rule {
    // egGet and egSet take, in the channel-group position, a key of the
    // envelope the call names.
    AttributeKeyOfTheEnvelope,
    // Each activation finds the panel services' globalFun empty; the module
    // stores its lookup there before it adds a control or opens a panel.
    GlobalFunSetBeforeControls,
    // create receives the panel services table itself as the panel's data.
    PanelDataIsTheServiceTable,
    // No call on a destroyed panel or on the controls of one.
    NoCallOnADestroyedPanel,
    // A panel is destroyed once.
    PanelDestroyedOnce,
    // Every panel an activation created is destroyed before it returns.
    PanelDestroyedBeforeReturn,
    // Every control get and set passes a value record whose type is
    // LWT_INTEGER.
    ValueRecordIsInteger,
    // Key and envelope identifiers are ones the host handed out, and a key
    // belongs to the envelope of the call.
    KeyOfTheEnvelope,
    // A destroyed key is never used again.
    NoDestroyedKey,
    // Item, channel-group, channel, panel and control identifiers are ones
    // the host handed out.
    KnownIdentifier,
};

inline constexpr Rule ALL_RULES[] = {
    Rule::AttributeKeyOfTheEnvelope,
    Rule::GlobalFunSetBeforeControls,
    Rule::PanelDataIsTheServiceTable,
    Rule::NoCallOnADestroyedPanel,
    Rule::PanelDestroyedOnce,
    Rule::PanelDestroyedBeforeReturn,
    Rule::ValueRecordIsInteger,
    Rule::KeyOfTheEnvelope,
    Rule::NoDestroyedKey,
    Rule::KnownIdentifier,
};

// The rule as one sentence, for reports.
std::string_view RuleText(Rule rule);

// One breach: the call (service and operation), its arguments as the trace
// renders them, and the rule it broke.
struct Violation {
    std::string call;
    std::string arguments;
    Rule rule;
};

std::ostream &operator<<(std::ostream &out, const Violation &violation);

// Called with every violation any host records, as it happens. Tests install
// one that fails the running test; programs leave it empty and print the
// host's report instead. Returns the handler it replaces.
using ViolationHandler = std::function<void(const Violation &)>;
ViolationHandler SetViolationHandler(ViolationHandler handler);

// What a control holds before the module or the user gives it a value: no
// value a module would set, so that a value it forgot cannot pass for one it
// meant (a list on row 0, a switch that is off).
inline constexpr std::int32_t UNSET_CONTROL_VALUE = static_cast<std::int32_t>(0xDEADBEEFu);

}  // namespace standin
