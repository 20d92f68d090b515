// Scene files in the stand-in host: what a file reads into, the byte-identical
// round trip, channels written anew, what the format cannot hold, and
// malformed files.
#include "scenefile/scene_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "standin/standin.h"
#include "tests/scene_files.h"

namespace {

using standin::Scene;
using standin::SceneFile;
using standin::SceneFileError;
using tamberlo_test::ReadBytes;
using tamberlo_test::SAMPLES;

double Slot(const standin::KeyState &key, int tag) {
    double number = 0.0;
    std::memcpy(&number, key.parameters[static_cast<std::size_t>(tag - host::LWKEY_SHAPE)].data(),
                sizeof number);
    return number;
}

// A scene of format version 4 with one object; `motion` is its motion block.
std::string ObjectScene(const std::string &motion) {
    return "LWSC\n4\n\nFirstFrame 1\nLastFrame 90\nFramesPerSecond 25\n\n"
           "LoadObjectLayer 1 10000000 Objects/Cube.lwo\nObjectMotion\n" +
           motion + "ObjectDissolve (envelope)\n{ Envelope\n  1\n  Key 0 0 0 0 0 0 0 0 0\n" +
           "  Behaviors 1 1\n}\n";
}

const std::string TWO_CHANNELS =
    "NumChannels 2\nChannel 0\n{ Envelope\n  2\n"
    "  Key 1.50 0.33333333333333331 0 0.1 0.2 0.3 0.4 0.5 0.6\n"
    "  Key -0 1 4 0 0 0 0 0 0\n  Behaviors 2 3\n}\n"
    "Channel 8\n{ Envelope\n  1\n  Key 1 0 5 0 0 0 0 0 0\n  Behaviors 1 1\n}\n";

TEST(SceneFileTest, SamplesReadWithTheirItemsAndTimingAndWriteBackByteForByte) {
    struct Expected {
        const char *file;
        int version;
        std::vector<std::string> items;
        double framesPerSecond;
    };
    for (const Expected &expected :
         {Expected{
              "walk.lws", 5, {"Runner", "Tracker", "Hurdle", "Hip", "Key Light", "Camera"}, 30},
          Expected{"stage.lws", 4, {"Dancer", "Prop Null", "Fill", "Camera"}, 29.97},
          Expected{"legacy.lws", 3, {"Ball", "Ball Stand", "Sun", "Camera"}, 24}}) {
        SCOPED_TRACE(expected.file);
        const std::string bytes = ReadBytes(SAMPLES / expected.file);
        Scene scene;
        const SceneFile file = SceneFile::Read(bytes, scene, expected.file);
        EXPECT_EQ(file.Version(), expected.version);
        std::vector<std::string> names;
        for (host::ItemId item : scene.Items()) names.push_back(scene.ItemName(item));
        EXPECT_EQ(names, expected.items);
        EXPECT_EQ(scene.FramesPerSecond(), expected.framesPerSecond);
        EXPECT_EQ(file.Write(scene), bytes);
    }
}

TEST(SceneFileTest, KeyFieldsAndBehavioursLandInTheHostsKeyParametersAndAttributes) {
    Scene scene;
    SceneFile::Read(ObjectScene(TWO_CHANNELS), scene, "cube.lws");
    const host::ItemId cube = scene.Items().at(0);
    const std::vector<standin::ChannelState> channels = scene.Channels(cube);
    ASSERT_EQ(channels.size(), 2u);
    EXPECT_EQ(channels[0].name, "Position.X");
    EXPECT_EQ(channels[1].name, "Scale.Z");
    const std::vector<standin::KeyState> keys = scene.Keys(channels[0].envelope);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].value, 1.5);
    EXPECT_EQ(keys[0].time, 1.0 / 3.0);
    EXPECT_EQ(standin::ShapeOfSlot(keys[0].parameters[0]), 0);
    const double expected[] = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6};
    for (int p = 0; p < 6; ++p) EXPECT_EQ(Slot(keys[0], host::LWKEY_TENSION + p), expected[p]);
    EXPECT_EQ(keys[0].parameters[host::LWKEY_PARAM_3 - host::LWKEY_SHAPE], host::KeySlot{});
    EXPECT_TRUE(std::signbit(keys[1].value));
    EXPECT_EQ(standin::ShapeOfSlot(keys[1].parameters[0]), standin::SCENE_SHAPE_STEPPED);
    EXPECT_EQ(scene.Attribute(channels[0].envelope, 0), 2);
    EXPECT_EQ(scene.Attribute(channels[0].envelope, 1), 3);
    EXPECT_EQ(scene.Attribute(channels[0].envelope, 2), 0);
    EXPECT_EQ(scene.FrameStart(), 1);
    EXPECT_EQ(scene.FrameEnd(), 90);
}

// A changed channel is written anew in the file's style (its indents and
// line ends), with the shortest numbers that read back to the same doubles;
// every other line keeps its bytes, and a channel the file lacked goes in
// its numbered place.
TEST(SceneFileTest, ChangedAndNewChannelsAreWrittenInTheFilesStyleAndReadBackExactly) {
    std::string text = ObjectScene(TWO_CHANNELS);
    for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2)
        text.replace(at, 1, "\r\n");
    Scene scene;
    const SceneFile file = SceneFile::Read(text, scene, "cube.lws");
    const host::ItemId cube = scene.Items().at(0);
    const host::ChannelId x = *scene.FindChannel(cube, "Position.X");
    scene.AddKey(x, 0.1 + 0.2, -0.0);
    const host::ChannelId added = scene.AddChannel(cube, "Rotation.B");
    scene.SetKeyParameter(scene.AddKey(added, 2.0, 1e-300), host::LWKEY_SHAPE,
                          standin::ShapeSlot(3));

    const std::string written = file.Write(scene);
    EXPECT_NE(written.find("NumChannels 3\r\nChannel 0\r\n{ Envelope\r\n  3\r\n"
                           "  Key -0 0.30000000000000004 0 0 0 0 0 0 0\r\n"
                           "  Key 1.5 0.3333333333333333 0 0.1 0.2 0.3 0.4 0.5 0.6\r\n"
                           "  Key -0 1 4 0 0 0 0 0 0\r\n  Behaviors 2 3\r\n}\r\n"
                           "Channel 5\r\n{ Envelope\r\n  1\r\n  Key 1e-300 2 3 0 0 0 0 0 0\r\n"
                           "  Behaviors 0 0\r\n}\r\nChannel 8\r\n"),
              std::string::npos)
        << written;
    EXPECT_EQ(written.substr(written.find("ObjectDissolve")),
              text.substr(text.find("ObjectDissolve")));

    Scene again;
    const SceneFile reread = SceneFile::Read(written, again, "again.lws");
    const host::ItemId cubeAgain = again.Items().at(0);
    ASSERT_EQ(again.Channels(cubeAgain).size(), 3u);
    for (const auto &[before, after] :
         {std::pair{scene.Channels(cube)[0], again.Channels(cubeAgain)[0]},
          std::pair{scene.Channels(cube)[2], again.Channels(cubeAgain)[1]}}) {
        const auto keys = scene.Keys(before.envelope), keysAgain = again.Keys(after.envelope);
        ASSERT_EQ(keys.size(), keysAgain.size());
        for (std::size_t k = 0; k < keys.size(); ++k) {
            EXPECT_EQ(std::memcmp(&keys[k].value, &keysAgain[k].value, sizeof(double)), 0);
            EXPECT_EQ(keys[k].time, keysAgain[k].time);
            EXPECT_EQ(keys[k].parameters, keysAgain[k].parameters);
        }
    }
    EXPECT_EQ(reread.Write(again), written);
}

TEST(SceneFileTest, WhatTheFormatCannotHoldIsNamedAndNothingIsWritten) {
    Scene scene;
    const SceneFile file = SceneFile::Read(
        ObjectScene(TWO_CHANNELS) + "AddNullObject 10000001 Empty\n", scene, "cube.lws");
    const host::ItemId cube = scene.Items().at(0);
    const host::EnvelopeId x = scene.Channels(cube)[0].envelope;
    const host::KeyId key = scene.AddKey(scene.Channels(cube)[0].id, 5.0, 1.0);
    scene.SetKeyParameter(key, host::LWKEY_SHAPE, standin::ShapeSlot(6));
    scene.SetKeyParameter(key, host::LWKEY_PARAM_3, host::KeySlot{1});
    scene.SetAttribute(x, 2, 1);
    scene.AddChannel(cube, "Dissolve");
    scene.AddChannel(scene.Items().at(1), "Position.X");
    scene.AddItem("Stranger");
    try {
        file.Write(scene);
        FAIL() << "written";
    } catch (const SceneFileError &error) {
        const std::string message = error.what();
        for (const char *problem :
             {"cube.lws: the scene holds what a scene file cannot", "shape is not one of 0 to 5",
              "LWKEY_PARAM_3 is not zero", "attribute 2 is not zero", "\"Dissolve\"",
              "item \"Empty\" (line 30) has channels, and no motion block",
              "item \"Stranger\" is not in the file"})
            EXPECT_NE(message.find(problem), std::string::npos) << problem << "\n" << message;
    }
}

TEST(SceneFileTest, MalformedFilesAreRefusedWithTheirLine) {
    const std::string good = ObjectScene(TWO_CHANNELS);
    const auto replaced = [&](const std::string &from, const std::string &to) {
        std::string text = good;
        return text.replace(text.find(from), from.size(), to);
    };
    const std::pair<std::string, std::string> cases[] = {
        {"", "cube.lws:1: not a LightWave scene file"},
        {"LWSC\n2\n", "cube.lws:2: format version 2 keeps motion in an older layout"},
        {"LWSC\n6\n", "cube.lws:2: format version 6 is newer"},
        {replaced("1 10000000 Objects", "1 Objects"), ":8: LoadObjectLayer needs a hexadecimal"},
        {replaced("NumChannels 2", "NumChannels 10"), ":10: NumChannels must be 0 to 9"},
        {replaced("Channel 8", "Channel 0"), ":18: channel 0 appears twice"},
        {replaced("Key 1 0 5", "Key 1 0 6"), ":21: a key's shape is a whole number 0 to 5"},
        {replaced("Key 1 0 5", "Key nan 0 5"), ":21: \"nan\" is not a finite number"},
        {replaced("Key 1 0 5 0 0 0 0 0 0", "Key 1 0 5 0 0 0 0 0"), ":21: a key needs nine"},
        {replaced("Key -0 1 4", "Key -0 0.33333333333333331 4"), ":15: a second key at time"},
        {replaced("  Behaviors 2 3\n", ""), ":16: the keys end with \"Behaviors"},
        {replaced("FramesPerSecond 25", "FramesPerSecond 0"), ":6: FramesPerSecond needs"},
        {replaced("LoadObjectLayer 1 10000000 Objects/Cube.lwo", "AddCamera 30000000"),
         ":9: ObjectMotion must follow the object it moves"},
        {good.substr(0, good.find("  Key 1 0 5")), ":20: the file ends where a Key line"},
    };
    for (const auto &[text, expected] : cases) {
        Scene scene;
        try {
            SceneFile::Read(text, scene, "cube.lws");
            ADD_FAILURE() << "read: " << expected;
        } catch (const SceneFileError &error) {
            EXPECT_NE(std::string(error.what()).find(expected), std::string::npos)
                << error.what() << "\nexpected: " << expected;
        }
    }
}

}  // namespace
