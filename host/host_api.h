// host/: the contract between Layout and a module, and nothing else.
//
// The contract between Layout and a plug-in module, as Tamberlo uses it.
//
// Everything the module needs from its host is declared here and nowhere else:
// identifiers, the service tables fetched through the global lookup, the value
// and control records of the panel services, the activation signature and the
// module descriptor. The stand-in host implements the same declarations, so the
// two sides meet only through this file.
//
// All records are plain C layouts: the host and the module may be built by
// different compilers. On the 32-bit Windows target every pointer and every
// descriptor word is 32 bits wide.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace host {

// ---------------------------------------------------------------------------
// Identifiers. The host hands them out and the module never looks inside; the
// null identifier means "none" and ends every enumeration.
struct OpaqueItem;
struct OpaqueChannelGroup;
struct OpaqueChannel;
struct OpaqueEnvelope;
struct OpaqueKey;
struct OpaquePanel;

using ItemId = OpaqueItem *;
using ChannelGroupId = OpaqueChannelGroup *;
using ChannelId = OpaqueChannel *;
using EnvelopeId = OpaqueEnvelope *;
using KeyId = OpaqueKey *;
using PanelId = OpaquePanel *;

// A descriptor word: 32 bits on the Windows target, pointer-wide elsewhere so
// that the descriptor keeps its shape of six equal words on every build.
using Word = std::uintptr_t;

// ---------------------------------------------------------------------------
// Global service lookup.
using GlobalFunc = void *(*)(const char *serviceName, int use);

inline constexpr int GFUSE_TRANSIENT = 0;
inline constexpr int GFUSE_ACQUIRE = 1;
inline constexpr int GFUSE_RELEASE = 2;

inline constexpr const char *ITEM_INFO_NAME = "LW Item Info 3";
inline constexpr const char *INTERFACE_INFO_NAME = "LW Interface Info 3";
inline constexpr const char *PANEL_SERVICES_NAME = "LWPanelServices";
inline constexpr const char *SCENE_INFO_NAME = "LW Scene Info 3";
inline constexpr const char *CHANNEL_INFO_NAME = "Channel Info 2";
inline constexpr const char *ENVELOPE_FUNCS_NAME = "Animation Envelopes";
inline constexpr const char *MESSAGE_FUNCS_NAME = "Info Messages 2";

// ---------------------------------------------------------------------------
// Animation services.

// "LW Item Info 3"
struct ItemInfo {
    const char *(*name)(ItemId item);
    ChannelGroupId (*chanGroup)(ItemId item);
};

// "LW Interface Info 3": the selection, a list of item IDs ended by null. The
// host keeps the list current; it is valid until the selection changes.
struct InterfaceInfo {
    const ItemId *selItems;
};

// "LW Scene Info 3": plain values that the host keeps current.
struct SceneInfo {
    int frameStart;
    int frameEnd;
    double framesPerSecond;
};

// "Channel Info 2"
struct ChannelInfo {
    ChannelId (*nextChannel)(ChannelGroupId group, ChannelId previous);
    const char *(*channelName)(ChannelId channel);
    int (*channelType)(ChannelId channel);
    EnvelopeId (*channelEnvelope)(ChannelId channel);
};

// What channelType reports: how the host shows a channel's values.
inline constexpr int CHANNEL_TYPE_NUMBER = 0;
inline constexpr int CHANNEL_TYPE_DISTANCE = 1;
inline constexpr int CHANNEL_TYPE_PERCENT = 2;
inline constexpr int CHANNEL_TYPE_ANGLE = 3;

// Key parameter tags for keyGet/keySet. Every tag has an 8-byte slot: value
// and time are doubles, the others are handed back and forth uninterpreted.
inline constexpr int LWKEY_VALUE = 0;
inline constexpr int LWKEY_TIME = 1;
inline constexpr int LWKEY_SHAPE = 2;
inline constexpr int LWKEY_TENSION = 3;
inline constexpr int LWKEY_CONTINUITY = 4;
inline constexpr int LWKEY_BIAS = 5;
inline constexpr int LWKEY_PARAM_0 = 6;
inline constexpr int LWKEY_PARAM_1 = 7;
inline constexpr int LWKEY_PARAM_2 = 8;
inline constexpr int LWKEY_PARAM_3 = 9;
inline constexpr int KEY_PARAMETER_COUNT = 10;
inline constexpr int KEY_SLOT_BYTES = 8;

// The tags from LWKEY_SHAPE on carry bytes that only the host interprets; a
// copy of a key keeps them as these raw slots, one per tag.
inline constexpr int KEY_RAW_SLOT_COUNT = KEY_PARAMETER_COUNT - LWKEY_SHAPE;
using KeySlot = std::array<unsigned char, KEY_SLOT_BYTES>;
using KeyRawSlots = std::array<KeySlot, KEY_RAW_SLOT_COUNT>;

// Envelope attributes for egGet/egSet, one int each.
inline constexpr int ENVELOPE_ATTRIBUTE_COUNT = 3;

// "Animation Envelopes"
struct EnvelopeFuncs {
    EnvelopeId (*create)(ChannelGroupId group, const char *name, int channelType);
    KeyId (*createKey)(EnvelopeId envelope, double time, double value);
    void (*destroyKey)(EnvelopeId envelope, KeyId key);
    KeyId (*nextKey)(EnvelopeId envelope, KeyId previous);
    int (*keyGet)(EnvelopeId envelope, KeyId key, int tag, void *slot);
    int (*keySet)(EnvelopeId envelope, KeyId key, int tag, void *slot);
    // The second argument is declared as a channel group; the module hands the
    // key whose envelope attributes it reads or writes.
    int (*egGet)(EnvelopeId envelope, ChannelGroupId group, int tag, int *value);
    int (*egSet)(EnvelopeId envelope, ChannelGroupId group, int tag, int *value);
};

// "Info Messages 2"
struct MessageFuncs {
    void (*error)(const char *line1, const char *line2);
};

// ---------------------------------------------------------------------------
// Panel services.

// Value types, also the type field of the value record.
inline constexpr int LWT_NULL = 0;
inline constexpr int LWT_STRING = 1;
inline constexpr int LWT_INTEGER = 2;
inline constexpr int LWT_BOOLEAN = 8;
inline constexpr int LWT_CHOICE = 9;
inline constexpr int LWT_POPUP = 18;

// Control type names for addControl. A name the host does not know gets no
// control.
inline constexpr const char *NUM_CONTROL = "NumControl";
inline constexpr const char *LIST_BOX_CONTROL = "ListBoxControl";
inline constexpr const char *BOOL_CONTROL = "BoolControl";
inline constexpr const char *POPUP_CONTROL = "PopupControl";
inline constexpr const char *FILE_BUTTON_CONTROL = "FileButtonControl";

// Control attribute tags for get/set.
inline constexpr int CTL_VALUE = 4;
inline constexpr int CTL_USEREVENT = 14;
inline constexpr int CTL_USERDATA = 16;

// Draw modes.
inline constexpr int DR_RENDER = 1;
inline constexpr int DR_GHOST = 2;

// Panel open flags.
inline constexpr int PANF_BLOCKING = 1;
inline constexpr int PANF_CANCEL = 2;
inline constexpr int PANF_FRAME = 4;

// The value record passed to every get and set: the type field, then one
// value. Integers travel in the value field, and so do pointers (user data,
// event handlers), which is why the field is pointer-wide.
struct ValueRecord {
    int type;
    std::intptr_t value;
};

struct Control;

using ListCountFunc = int (*)(void *userData);
using ListNameFunc = const char *(*)(void *userData, int index);
using EventFunc = void (*)(Control *control, void *userData);

// A control, as addControl returns it: its operations and the host's own data.
struct Control {
    void (*draw)(Control *control, int mode);
    void (*get)(Control *control, int tag, ValueRecord *value);
    void (*set)(Control *control, int tag, ValueRecord *value);
    void *hostData;
};

// The control descriptor handed to addControl. The fields a control type does
// not use keep whatever they held and the host ignores them.
struct ControlDescriptor {
    int type;
    union {
        int width;
        const char **choices;  // ended by a null entry
    } shape;
    int visibleRows;
    int topRow;
    ListCountFunc countFn;
    ListNameFunc nameFn;
};

// "LWPanelServices"
struct PanelFuncs {
    PanelId (*create)(const char *title, void *panelData);
    void (*destroy)(PanelId panel);
    int (*open)(PanelId panel, int flags);
    Control *(*addControl)(PanelId panel, const char *typeName, ControlDescriptor *descriptor,
                           const char *label);
    GlobalFunc globalFun;
};

// ---------------------------------------------------------------------------
// Module entry.

// Activation: interface version, the global lookup, the command's local
// context and the server's data.
using ActivateFunc = int (*)(int version, GlobalFunc global, void *local, void *serverData);

inline constexpr int AFUNC_OK = 0;
inline constexpr int AFUNC_BADVERSION = 1;

// The class of every server Tamberlo offers, and the interface version the
// host hands to their activation functions.
inline constexpr const char *LAYOUT_GENERIC_CLASS = "LayoutGeneric";
inline constexpr int LAYOUT_GENERIC_VERSION = 2;

struct ServerRecord {
    const char *className;
    const char *name;
    ActivateFunc activate;
    const void *tagInfo;
};

struct ModuleDescriptor {
    Word sync;
    Word systemVersion;
    Word machine;
    void *(*startup)();
    void (*shutdown)(void *startupResult);
    ServerRecord *servers;
};

inline constexpr Word MODULE_SYNC = 0x04121994;
inline constexpr Word MODULE_SYSTEM_VERSION = 3;
inline constexpr Word MODULE_MACHINE = 0x300;
// What the module's startup returns: any non-null value tells the host that
// startup succeeded; null would make it unload the module at once.
inline constexpr Word MODULE_STARTUP_RESULT = 4;
inline constexpr const char *DESCRIPTOR_SYMBOL = "_mod_descrip";

// ---------------------------------------------------------------------------
// The records as every 32-bit build lays them out. Layout and the DLL are
// built by one compiler (MSVC and MinGW agree), the 32-bit stand-in that runs
// the DLL by another (g++ -m32), and the two align a double differently: to
// 8 bytes inside a record on Windows, to 4 on Linux. That changes nothing
// below, where no double follows an odd number of 4-byte words and no record
// is placed inside another; a change that made it matter fails to compile
// here, on both sides.
#if UINTPTR_MAX == 0xffffffffu
static_assert(sizeof(ItemInfo) == 8 && sizeof(InterfaceInfo) == 4);
static_assert(sizeof(SceneInfo) == 16 && offsetof(SceneInfo, framesPerSecond) == 8);
static_assert(sizeof(ChannelInfo) == 16 && sizeof(MessageFuncs) == 4);
static_assert(sizeof(EnvelopeFuncs) == 32 && offsetof(EnvelopeFuncs, egSet) == 28);
static_assert(sizeof(ValueRecord) == 8 && offsetof(ValueRecord, value) == 4);
static_assert(sizeof(Control) == 16 && offsetof(Control, hostData) == 12);
static_assert(sizeof(ControlDescriptor) == 24 && offsetof(ControlDescriptor, nameFn) == 20);
static_assert(sizeof(PanelFuncs) == 20 && offsetof(PanelFuncs, globalFun) == 16);
static_assert(sizeof(ServerRecord) == 16 && sizeof(ModuleDescriptor) == 24);
static_assert(offsetof(ModuleDescriptor, servers) == 20);
#endif

}  // namespace host
