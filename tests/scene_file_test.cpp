// Scene files in the stand-in host: what a file reads into, the byte-identical
// round trip, channels written anew, what the format cannot hold, and
// malformed files.
#include "scenefile/scene_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
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

// Keys written again as they were, and behaviours set to what they were,
// leave the block's own text, with its 17-digit numbers; a real change
// writes the block anew.
TEST(SceneFileTest, AChannelWrittenAgainAsItWasKeepsItsBytes) {
    const std::string text = ObjectScene(TWO_CHANNELS);
    Scene scene;
    const SceneFile file = SceneFile::Read(text, scene, "cube.lws");
    const standin::ChannelState x = scene.Channels(scene.Items().at(0))[0];
    for (const standin::KeyState &key : scene.Keys(x.envelope))
        scene.AddKey(x.id, key.time, key.value, key.parameters);
    scene.SetAttribute(x.envelope, 0, scene.Attribute(x.envelope, 0));
    EXPECT_EQ(file.Write(scene), text);

    scene.SetAttribute(x.envelope, 1, 4);
    const std::string written = file.Write(scene);
    EXPECT_NE(written.find("  Key 1.5 0.3333333333333333 0"), std::string::npos) << written;
    EXPECT_NE(written.find("  Behaviors 2 4\n"), std::string::npos) << written;
}

// A file is read a piece at a time, and its unchanged parts are read again
// when writing: a scene several pieces long, with CRLF line ends, a line
// longer than a piece and no line end after its last line, reads and writes
// just as its text does.
TEST(SceneFileTest, AFileReadInPiecesReadsAndWritesAsItsText) {
    std::string text =
        "LWSC\r\n5\r\nFramesPerSecond 24\r\nComment " + std::string(3 << 19, 'x') + "\r\n";
    for (int item = 0; item < 40; ++item) {
        text += "AddNullObject 1000000" + std::to_string(item % 10) + " Null " +
                std::to_string(item) + "\r\nObjectMotion\r\nNumChannels 9\r\n";
        for (int channel = 0; channel < 9; ++channel) {
            text += "Channel " + std::to_string(channel) + "\r\n{ Envelope\r\n  200\r\n";
            for (int key = 0; key < 200; ++key)
                text += "  Key " + std::to_string(std::sin(item + channel * 0.1 + key * 0.01)) +
                        " " + std::to_string(key / 24.0) + " 0 0 0 0 0 0 0\r\n";
            text += "  Behaviors 1 1\r\n}\r\n";
        }
    }
    text.resize(text.size() - 2);
    const tamberlo_test::TemporaryFolder folder;
    const std::filesystem::path path = folder.Path() / "pieces.lws";
    tamberlo_test::WriteBytes(path, text);

    Scene fromFile, fromText;
    std::size_t lastDone = 0, reports = 0;
    const SceneFile loaded =
        SceneFile::Load(path, fromFile, [&](std::size_t done, std::size_t total) {
            EXPECT_GE(done, lastDone);
            EXPECT_EQ(total, text.size());
            lastDone = done;
            ++reports;
        });
    const SceneFile read = SceneFile::Read(text, fromText, "pieces.lws");
    EXPECT_EQ(lastDone, text.size());
    EXPECT_GT(reports, 2u);
    ASSERT_EQ(fromFile.Items().size(), 40u);
    EXPECT_EQ(fromFile.ItemName(fromFile.Items()[39]), "Null 39");
    EXPECT_EQ(fromFile.TotalKeyCount(), fromText.TotalKeyCount());
    EXPECT_EQ(loaded.Write(fromFile), text);

    for (Scene *scene : {&fromFile, &fromText}) {
        const host::ItemId last = scene->Items().back();
        scene->AddKey(scene->Channels(last)[8].id, 0.5, 2.0);
        scene->SetAttribute(scene->Channels(scene->Items()[20])[4].envelope, 1, 3);
    }
    const std::string written = loaded.Write(fromFile);
    EXPECT_EQ(written, read.Write(fromText));
    EXPECT_NE(written, text);
}

// Unchanged parts are read again from the file when writing: one changed in
// place since is refused, while one replaced by another file still gives
// the bytes that were read.
TEST(SceneFileTest, AFileChangedInPlaceSinceReadingIsRefusedWhenWriting) {
    const tamberlo_test::TemporaryFolder folder;
    const std::filesystem::path path = folder.Path() / "walk.lws";
    const std::string bytes = ReadBytes(SAMPLES / "walk.lws");
    tamberlo_test::WriteBytes(path, bytes);
    Scene scene;
    const SceneFile replaced = SceneFile::Load(path, scene);
    tamberlo_test::WriteBytes(folder.Path() / "other.lws", "LWSC\n5\n");
    std::filesystem::rename(folder.Path() / "other.lws", path);
    EXPECT_EQ(replaced.Write(scene), bytes);

    tamberlo_test::WriteBytes(path, bytes);
    Scene again;
    const SceneFile changed = SceneFile::Load(path, again);
    {
        std::fstream stream(path, std::ios::binary | std::ios::in | std::ios::out);
        stream.seekp(static_cast<std::streamoff>(bytes.size() / 2));
        stream.put('#');
    }
    std::filesystem::last_write_time(
        path, std::filesystem::last_write_time(path) + std::chrono::seconds(1));
    try {
        changed.Write(again);
        ADD_FAILURE() << "written from a changed file";
    } catch (const SceneFileError &error) {
        EXPECT_NE(std::string(error.what()).find("has changed since it was read"),
                  std::string::npos)
            << error.what();
    }
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
