// The whole conversation of one copy and one paste with the host, call by
// call with every argument, on a scene small enough to read: the order in
// which capture reads a key, and in which paste sets value, time, the eight
// raw parameters and the three attributes.
#include <sstream>
#include <string>

#include "tests/labels.h"
#include "tests/module_fixture.h"
#include "tests/scenes.h"

namespace tamberlo_test {
namespace {

// Both commands begin by looking up the seven services, in this order.
constexpr const char *SERVICE_LOOKUPS = R"(global LW Item Info 3 use=0
global LW Interface Info 3 use=0
global LWPanelServices use=0
global LW Scene Info 3 use=0
global Channel Info 2 use=0
global Animation Envelopes use=0
global Info Messages 2 use=0
)";

class CommandTraceTest : public ModuleTest {
  protected:
    // The trace since the last call, one "service operation arguments" line
    // per call.
    std::string TakeTrace() {
        std::ostringstream text;
        for (const standin::TraceEntry &entry : host.Trace())
            text << entry.service << " " << entry.operation << " " << entry.arguments << "\n";
        host.ClearTrace();
        return text.str();
    }
};

TEST_F(CommandTraceTest, CopyMakesExactlyTheseCalls) {
    const auto item = AddItem(scene, "A", {{"Position.X", {{At(1), 1.5}, {At(9), 2.5}}}});
    scene.SetFrames(0, 5);
    host.EnableTrace(true);
    Copy({item}, [](standin::PanelSession &panel) {
        panel.Pick(labels::ITEM, 0);
        return standin::PanelOutcome::Confirm;
    });
    EXPECT_EQ(TakeTrace(),
              std::string("host activate server=\"Ruxo_Tamberlo copy\" version=2\n") +
                  SERVICE_LOOKUPS +
                  R"(LWPanelServices create title="Ruxo_Tamberlo (COPY) v0.1i" data=services
LWPanelServices addControl panel=1 type="NumControl" label="開始フレーム"
LWPanelServices addControl panel=1 type="NumControl" label="終了フレーム"
LWPanelServices addControl panel=1 type="ListBoxControl" label="アイテム"
LWPanelServices addControl panel=1 type="ListBoxControl" label="チャンネル"
LWPanelServices addControl panel=1 type="BoolControl" label="有効"
LWPanelServices addControl panel=1 type="PopupControl" label="一括切り替え"
LWPanelServices addControl panel=1 type="FileButtonControl" label="セット保存"
LWPanelServices addControl panel=1 type="FileButtonControl" label="セット読込"
LW Item Info 3 name item=1
LW Item Info 3 chanGroup item=1
Channel Info 2 nextChannel group=2 previous=null
Channel Info 2 nextChannel group=2 previous=4
Channel Info 2 nextChannel group=2 previous=null
Channel Info 2 channelName channel=4
Channel Info 2 nextChannel group=2 previous=4
control set control="アイテム" tag=16 value=pointer
control set control="アイテム" tag=14 value=pointer
control set control="チャンネル" tag=16 value=pointer
control set control="チャンネル" tag=14 value=pointer
control set control="有効" tag=16 value=pointer
control set control="有効" tag=14 value=pointer
control set control="一括切り替え" tag=16 value=pointer
control set control="一括切り替え" tag=14 value=pointer
control draw control="有効" mode=2
control set control="アイテム" tag=4 value=0
control set control="開始フレーム" tag=4 value=0
control set control="終了フレーム" tag=4 value=5
LWPanelServices open panel=1 flags=7
control get control="アイテム" tag=4
control set control="チャンネル" tag=4 value=0
control get control="チャンネル" tag=4
control draw control="有効" mode=1
control set control="有効" tag=4 value=1
control draw control="チャンネル" mode=2
control draw control="チャンネル" mode=1
control get control="開始フレーム" tag=4
control get control="終了フレーム" tag=4
Channel Info 2 channelType channel=4
Channel Info 2 channelEnvelope channel=4
Animation Envelopes nextKey envelope=3 previous=null
Animation Envelopes keyGet envelope=3 key=1 tag=1
Animation Envelopes nextKey envelope=3 previous=1
Animation Envelopes keyGet envelope=3 key=2 tag=1
Animation Envelopes nextKey envelope=3 previous=2
Animation Envelopes nextKey envelope=3 previous=null
Animation Envelopes keyGet envelope=3 key=1 tag=1
Animation Envelopes keyGet envelope=3 key=1 tag=0
Animation Envelopes keyGet envelope=3 key=1 tag=1
Animation Envelopes keyGet envelope=3 key=1 tag=2
Animation Envelopes keyGet envelope=3 key=1 tag=3
Animation Envelopes keyGet envelope=3 key=1 tag=4
Animation Envelopes keyGet envelope=3 key=1 tag=5
Animation Envelopes keyGet envelope=3 key=1 tag=6
Animation Envelopes keyGet envelope=3 key=1 tag=7
Animation Envelopes keyGet envelope=3 key=1 tag=8
Animation Envelopes keyGet envelope=3 key=1 tag=9
Animation Envelopes egGet envelope=3 group=1 tag=0
Animation Envelopes egGet envelope=3 group=1 tag=1
Animation Envelopes egGet envelope=3 group=1 tag=2
LWPanelServices destroy panel=1
)");
}

TEST_F(CommandTraceTest, PasteMakesExactlyTheseCalls) {
    const auto source = AddItem(scene, "S", {{"X", {{At(3), 1.5}}}});
    const auto target = AddItem(scene, "T", {{"X", {{At(3), 2}, {At(20), 3}}}});
    // Parameters and attributes that tell every slot apart, so that the trace
    // shows each written to its own tag.
    const host::EnvelopeId sourceEnvelope = scene.Channels(source)[0].envelope;
    const host::KeyId sourceKey = scene.Keys(sourceEnvelope)[0].id;
    for (int tag = host::LWKEY_SHAPE; tag < host::KEY_PARAMETER_COUNT; ++tag)
        scene.SetKeyParameter(sourceKey, tag, host::KeySlot{static_cast<unsigned char>(tag), 0xA0});
    for (int attribute = 0; attribute < host::ENVELOPE_ATTRIBUTE_COUNT; ++attribute)
        scene.SetAttribute(sourceEnvelope, attribute, 40 + attribute);
    Copy({source}, 0, 10);
    host.EnableTrace(true);
    Paste({target}, PasteAt(2));
    EXPECT_EQ(TakeTrace(),
              std::string("host activate server=\"Ruxo_Tamberlo paste\" version=2\n") +
                  SERVICE_LOOKUPS +
                  R"(LWPanelServices create title="Ruxo_Tamberlo (COPY) v0.1i" data=services
LW Item Info 3 name item=5
LW Item Info 3 chanGroup item=5
Channel Info 2 nextChannel group=6 previous=null
Channel Info 2 nextChannel group=6 previous=8
Channel Info 2 nextChannel group=6 previous=null
Channel Info 2 channelName channel=8
Channel Info 2 nextChannel group=6 previous=8
LWPanelServices addControl panel=2 type="NumControl" label="貼り付け開始フレーム"
control set control="貼り付け開始フレーム" tag=4 value=0
LWPanelServices open panel=2 flags=7
control get control="貼り付け開始フレーム" tag=4
Channel Info 2 channelEnvelope channel=8
Animation Envelopes nextKey envelope=7 previous=null
Animation Envelopes keyGet envelope=7 key=2 tag=1
Animation Envelopes nextKey envelope=7 previous=2
Animation Envelopes keyGet envelope=7 key=3 tag=1
Animation Envelopes nextKey envelope=7 previous=3
Animation Envelopes destroyKey envelope=7 key=2
Animation Envelopes createKey envelope=7 time=0.16666666666666669 value=1.5
Animation Envelopes keySet envelope=7 key=2.1 tag=0 value=1.5
Animation Envelopes keySet envelope=7 key=2.1 tag=1 value=0.16666666666666669
Animation Envelopes keySet envelope=7 key=2.1 tag=2 bytes=02a0000000000000
Animation Envelopes keySet envelope=7 key=2.1 tag=3 bytes=03a0000000000000
Animation Envelopes keySet envelope=7 key=2.1 tag=4 bytes=04a0000000000000
Animation Envelopes keySet envelope=7 key=2.1 tag=5 bytes=05a0000000000000
Animation Envelopes keySet envelope=7 key=2.1 tag=6 bytes=06a0000000000000
Animation Envelopes keySet envelope=7 key=2.1 tag=7 bytes=07a0000000000000
Animation Envelopes keySet envelope=7 key=2.1 tag=8 bytes=08a0000000000000
Animation Envelopes keySet envelope=7 key=2.1 tag=9 bytes=09a0000000000000
Animation Envelopes egSet envelope=7 group=2.1 tag=0 value=40
Animation Envelopes egSet envelope=7 group=2.1 tag=1 value=41
Animation Envelopes egSet envelope=7 group=2.1 tag=2 value=42
LWPanelServices destroy panel=2
)");
}

}  // namespace
}  // namespace tamberlo_test
