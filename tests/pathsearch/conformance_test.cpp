// Scenes whose statistics and paths were worked out independently of this program, loaded into
// the start-up scene as F6 loads them. Every coordinate must match as a float, bit for bit.

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "app/scene_file.h"
#include "search_fixture.h"

namespace {

// Just enough JSON for expected.json: objects, arrays, numbers and strings.
struct Json {
    std::map<std::string, Json> object;
    std::vector<Json> array;
    double number = 0;
    std::string text;
};

class JsonReader {
  public:
    explicit JsonReader(std::string text) : text_(std::move(text)) {}
    bool Read(Json& value) {
        Skip();
        if (at_ >= text_.size()) return false;
        char c = text_[at_];
        if (c == '{') return ReadObject(value);
        if (c == '[') return ReadArray(value);
        if (c == '"') return ReadString(value.text);
        const char* begin = text_.c_str() + at_;
        char* end = nullptr;
        value.number = std::strtod(begin, &end);
        at_ += static_cast<size_t>(end - begin);
        return end != begin;
    }

  private:
    void Skip() {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
    }
    bool Eat(char c) {
        Skip();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool ReadString(std::string& out) {
        if (!Eat('"')) return false;
        while (at_ < text_.size() && text_[at_] != '"') out += text_[at_++];
        return Eat('"');
    }
    bool ReadObject(Json& value) {
        Eat('{');
        if (Eat('}')) return true;
        do {
            std::string key;
            Skip();
            if (!ReadString(key) || !Eat(':') || !Read(value.object[key])) return false;
        } while (Eat(','));
        return Eat('}');
    }
    bool ReadArray(Json& value) {
        Eat('[');
        if (Eat(']')) return true;
        do {
            value.array.emplace_back();
            if (!Read(value.array.back())) return false;
        } while (Eat(','));
        return Eat(']');
    }
    std::string text_;
    size_t at_ = 0;
};

const std::string FOLDER = std::string(PFAD_TEST_DATA) + "/conformance";

Json Expected() {
    std::ifstream file(FOLDER + "/expected.json");
    std::stringstream text;
    text << file.rdbuf();
    Json expected;
    EXPECT_TRUE(JsonReader(text.str()).Read(expected)) << "expected.json does not parse";
    return expected;
}

}  // namespace

TEST_F(Conformance, EveryConformanceSceneGivesItsExpectedResult) {
    Json expected = Expected();
    ASSERT_GE(expected.object.size(), 20u);
    for (const auto& [name, answer] : expected.object) {
        SCOPED_TRACE(name);
        Vec2 start{50, 340}, goal{750, 340};
        SetWalls(BorderWalls());
        ASSERT_TRUE(OpenSceneFile(FOLDER + "/" + name));
        LoadScene(start, goal);
        JobResult result = RunJob(start, goal);

        EXPECT_EQ(result.status, static_cast<int32_t>(answer.object.at("status").number));
        EXPECT_EQ(result.collisionChecks,
                  static_cast<int32_t>(answer.object.at("collisionChecks").number));
        EXPECT_EQ(result.nodeCount, static_cast<int32_t>(answer.object.at("nodeCount").number));
        std::vector<Vec2> path;
        for (const Json& point : answer.object.at("path").array)
            path.push_back(Vec2{static_cast<float>(point.array.at(0).number),
                                static_cast<float>(point.array.at(1).number)});
        EXPECT_TRUE(SamePath(path, result.path));
    }
}

TEST_F(Conformance, EveryConformanceSceneFileHasAnExpectedResult) {
    Json expected = Expected();
    for (const auto& entry : std::filesystem::directory_iterator(FOLDER)) {
        if (entry.path().extension() != ".scene") continue;
        EXPECT_TRUE(expected.object.count(entry.path().filename().string())) << entry.path();
    }
}
