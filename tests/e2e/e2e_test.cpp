// The interactive program as a user meets it: a private Xvfb, the real pfadlotse in a fresh
// folder, xdotool for the mouse and the keys, and F12 screenshots to see what it shows.
//
// The program reads the mouse as relative motion, so the harness moves it only relatively and
// keeps track of where the program's cursor is; it checks that against the drawn cursor.
#include "tests/e2e/harness.h"

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using e2e::FindNamedWindow;
using e2e::ReadFile;
using e2e::Spawn;
using e2e::Stop;
using e2e::WaitFor;

// ---- Screenshots -----------------------------------------------------------------------------

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};
constexpr Rgb PATH{255, 255, 0};
constexpr Rgb WALL{128, 128, 255};
constexpr Rgb FOUND{64, 208, 64};
constexpr Rgb CURSOR{255, 255, 255};

struct Image {
    std::vector<uint8_t> bytes;
    Rgb At(int x, int y) const {
        const uint8_t* p = bytes.data() + 54 + (599 - y) * 2400 + x * 3;
        return Rgb{p[2], p[1], p[0]};
    }
    int Count(Rgb colour, int x0, int y0, int x1, int y1) const {
        int count = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) count += At(x, y) == colour;
        return count;
    }
    // The drawn cursor's corner: the top-most, then left-most white pixel.
    std::pair<int, int> Cursor() const {
        for (int y = 0; y < 600; ++y)
            for (int x = 0; x < 800; ++x)
                if (At(x, y) == CURSOR) return {x, y};
        return {-1, -1};
    }
};

// ---- The session -----------------------------------------------------------------------------

class EndToEnd : public e2e::ProgramSession {
  protected:
    void StartProgram() {
        ASSERT_NO_FATAL_FAILURE(ProgramSession::StartProgram());
        // Far up and left: the program's mouse stops at (0, 0), a known place.
        MoveBy(-2000, -2000);
        mouseX_ = mouseY_ = 0;
    }

    ::Window FindWindow(const char* title) {
        return FindNamedWindow(x_, DefaultRootWindow(x_), title);
    }

    void Xdotool(std::vector<std::string> args) {
        args.insert(args.begin(), XDOTOOL_PATH);
        pid_t pid = Spawn(args, {"DISPLAY=" + display_}, folder_, folder_ + "/xdotool.log");
        int status = WaitFor(pid, 10s);
        if (status == -1) Stop(pid);
        ASSERT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "xdotool " << args[1] << " failed";
    }

    // Every key and button is held long enough for several frames to see it.
    static void Hold() { std::this_thread::sleep_for(150ms); }

    void Tap(const char* key) {
        Xdotool({"keydown", key});
        Hold();
        Xdotool({"keyup", key});
        Hold();
    }
    void MoveBy(int dx, int dy) {
        Xdotool({"mousemove_relative", "--", std::to_string(dx), std::to_string(dy)});
        Hold();
    }
    void MoveTo(int x, int y) {
        MoveBy(x - mouseX_, y - mouseY_);
        mouseX_ = x;
        mouseY_ = y;
    }
    // A drag with the button (1 left, 3 right) from the mouse's place to (x, y).
    void Drag(int button, int x, int y) {
        Xdotool({"mousedown", std::to_string(button)});
        Hold();
        MoveTo(x, y);
        Xdotool({"mouseup", std::to_string(button)});
        Hold();
    }

    // F12, then the new Screen.bmp (the save replaces the file, so it has a new inode).
    // Pressed again, the window focused anew, when nothing comes: the key may have gone to a
    // window SDL has since replaced.
    Image Screenshot() {
        const std::string path = folder_ + "/Screen.bmp";
        struct stat before {};
        bool had = stat(path.c_str(), &before) == 0;
        for (int attempt = 0; attempt < 4; ++attempt) {
            if (attempt > 0 && !Focus()) break;
            Tap("F12");
            auto end = Clock::now() + (attempt < 3 ? 3s : 10s);
            struct stat now {};
            while (Clock::now() < end) {
                if (stat(path.c_str(), &now) == 0 && (!had || now.st_ino != before.st_ino)) {
                    Image image{ReadFile(path)};
                    if (image.bytes.size() == 1440054) return image;
                }
                std::this_thread::sleep_for(20ms);
            }
        }
        ADD_FAILURE() << "F12 wrote no new Screen.bmp";
        return Image{std::vector<uint8_t>(1440054, 0)};
    }

    // Screenshots until the path's status is shown, and checks the drawn cursor is where the
    // harness thinks the mouse is.
    Image SettledScreenshot() {
        auto end = Clock::now() + 20s;
        Image image = Screenshot();
        while (image.Count(FOUND, 5, 5, 250, 20) < 50 && Clock::now() < end) image = Screenshot();
        EXPECT_GE(image.Count(FOUND, 5, 5, 250, 20), 50)
            << "\"Weg erfolgreich berechnet\" not shown";
        EXPECT_EQ(image.Cursor(), std::make_pair(mouseX_, mouseY_)) << "the mouse is elsewhere";
        return image;
    }

    void SendCloseRequest() {
        Atom protocols = XInternAtom(x_, "WM_PROTOCOLS", False);
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window_;
        event.xclient.message_type = protocols;
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(x_, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(x_, window_, False, NoEventMask, &event);
        XFlush(x_);
    }

    int mouseX_ = 0;
    int mouseY_ = 0;
};

std::vector<uint8_t> Floats(std::initializer_list<float> values) {
    std::vector<uint8_t> bytes(values.size() * 4);
    std::memcpy(bytes.data(), values.begin(), bytes.size());
    return bytes;
}

bool StartsWith(const std::vector<uint8_t>& bytes, size_t offset,
                const std::vector<uint8_t>& part) {
    return bytes.size() >= offset + part.size() &&
           std::equal(part.begin(), part.end(), bytes.begin() + static_cast<long>(offset));
}
}  // namespace

TEST_F(EndToEnd, AUserDrawsMovesSavesLoadsAndQuits) {
    const auto began = Clock::now();
    ASSERT_NO_FATAL_FAILURE(StartProgram());

    SCOPED_TRACE("the default scene");
    Image first = SettledScreenshot();
    for (int x = 55; x <= 745; ++x) ASSERT_EQ(first.At(x, 340), PATH) << "x " << x;
    EXPECT_EQ(first.Count(PATH, 0, 0, 800, 339), 0);
    EXPECT_EQ(first.At(400, 80), WALL);

    SCOPED_TRACE("a wall across the line");
    MoveTo(400, 300);
    Drag(1, 400, 380);
    Image walled = SettledScreenshot();
    for (int y = 300; y < 380; ++y) {
        EXPECT_EQ(walled.At(400, y), WALL) << "y " << y;
        EXPECT_NE(walled.At(401, y), PATH) << "y " << y;
    }
    EXPECT_NE(walled.At(200, 340), PATH);
    EXPECT_GT(walled.Count(PATH, 0, 0, 800, 600), 700);

    SCOPED_TRACE("the goal moved, the scene saved");
    MoveTo(750, 340);
    Drag(3, 700, 200);
    Image saved = SettledScreenshot();
    EXPECT_EQ(saved.Count(PATH, 740, 330, 800, 350), 0);
    Tap("F5");
    std::vector<uint8_t> scene = ReadFile(folder_ + "/PathFindLog.txt");
    ASSERT_EQ(scene.size(), 16u + 5 * 32) << "F5 wrote no scene of five walls";
    EXPECT_TRUE(StartsWith(scene, 0, Floats({50, 340, 700, 200})));
    EXPECT_TRUE(StartsWith(scene, 16, Floats({10, 80, 780, 0, 9, 80, 791, 80})));
    EXPECT_TRUE(StartsWith(scene, 16 + 4 * 32, Floats({400, 300, 0, 80, 400, 299, 400, 381})));

    SCOPED_TRACE("further edits, then F6");
    MoveTo(600, 120);
    Drag(1, 600, 260);
    MoveTo(50, 340);
    Drag(3, 100, 500);
    MoveTo(700, 200);
    Image edited = SettledScreenshot();
    EXPECT_EQ(edited.At(600, 200), WALL);
    Tap("F6");
    Image restored = SettledScreenshot();
    // The same scene gives the same frame; only the computation time may differ.
    int differences = 0;
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 800; ++x)
            if (!(y >= 55 && y < 72 && x < 300))
                differences += !(restored.At(x, y) == saved.At(x, y));
    EXPECT_EQ(differences, 0);
    EXPECT_EQ(ReadFile(folder_ + "/PathFindLog.txt"), scene);

    SCOPED_TRACE("the headless renderer draws the same frame");
    pid_t render = Spawn({RENDER_PATH, "--bmp", "render.bmp", "PathFindLog.txt"}, {}, folder_,
                         folder_ + "/render.log");
    int rendered = WaitFor(render, 20s);
    if (rendered == -1) Stop(render);
    ASSERT_TRUE(rendered != -1 && WIFEXITED(rendered) && WEXITSTATUS(rendered) == 0);
    Image headless{ReadFile(folder_ + "/render.bmp")};
    ASSERT_EQ(headless.bytes.size(), 1440054u);
    EXPECT_EQ(headless.Cursor(), std::make_pair(0, 0));
    auto inside = [](int x, int y, int x0, int y0) {
        return x >= x0 && x < x0 + 16 && y >= y0 && y < y0 + 16;
    };
    differences = 0;
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 800; ++x)
            if (!(y >= 55 && y < 72 && x < 300) && !inside(x, y, 0, 0) && !inside(x, y, 700, 200))
                differences += !(headless.At(x, y) == restored.At(x, y));
    EXPECT_EQ(differences, 0);

    SCOPED_TRACE("the views of the search, by their keys, and back to the plain frame");
    constexpr Rgb TESTED{40, 110, 120};
    constexpr Rgb PANEL{8, 24, 48};
    Tap("F2");
    auto viewEnd = Clock::now() + 20s;
    // The legend's "geprüft" in the segments' colour: here the one tested segment is the path.
    Image searched = Screenshot();
    while (searched.Count(TESTED, 215, 20, 300, 45) < 20 && Clock::now() < viewEnd)
        searched = Screenshot();
    EXPECT_GE(searched.Count(TESTED, 215, 20, 300, 45), 20) << "F2 showed no search view";
    Tap("F1");
    EXPECT_GT(Screenshot().Count(PANEL, 0, 0, 800, 600), 50000) << "F1 showed no help panel";
    Tap("F1");
    Tap("F2");
    Tap("F2");
    Image plainAgain = SettledScreenshot();
    differences = 0;
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 800; ++x)
            if (!(y >= 55 && y < 72 && x < 300))
                differences += !(plainAgain.At(x, y) == restored.At(x, y));
    EXPECT_EQ(differences, 0);

    SCOPED_TRACE("the close box, then Escape");
    SendCloseRequest();
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(ProgramRunning());
    EXPECT_NE(FindWindow("Fenster"), 0u);
    Screenshot();  // still answering
    Xdotool({"keydown", "Escape"});
    int status = WaitFor(program_, 10s);
    Xdotool({"keyup", "Escape"});
    ASSERT_NE(status, -1) << "Escape did not end the program";
    program_ = 0;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;

    EXPECT_LT(Clock::now() - began, 45s);
}

// Without a display to reach the program says what is missing and does not run blind.
TEST_F(EndToEnd, WithoutADisplayTheProgramSaysWhatIsMissing) {
    const std::string log = folder_ + "/program.log";
    pid_t pid = Spawn({PFADLOTSE_PATH}, {"DISPLAY", "WAYLAND_DISPLAY"}, folder_, log);
    int status = WaitFor(pid, 5s);
    if (status == -1) Stop(pid);
    ASSERT_NE(status, -1) << "the program runs without a display";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);
    std::vector<uint8_t> said = ReadFile(log);
    EXPECT_NE(std::string(said.begin(), said.end()).find("Xvfb"), std::string::npos);
}

TEST_F(EndToEnd, AFaultShowsTheFehlerBoxWhichReturnClosesAndTheProgramFails) {
    StartProgram();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(kill(program_, SIGSEGV), 0);
    ::Window box = 0;
    auto end = Clock::now() + 15s;
    while (!box && Clock::now() < end) {
        box = FindWindow("Fehler");
        if (!box) std::this_thread::sleep_for(50ms);
    }
    ASSERT_NE(box, 0u) << "no window \"Fehler\" appeared";
    EXPECT_TRUE(ProgramRunning()) << "the program must wait for the box";
    // No window manager: hand the box the keyboard, then close it with Return.
    int status = -1;
    while (status == -1 && Clock::now() < end) {
        XSetInputFocus(x_, box, RevertToParent, CurrentTime);
        XSync(x_, False);
        Tap("Return");
        status = WaitFor(program_, 1000ms);
    }
    ASSERT_NE(status, -1) << "the box did not close with Return";
    program_ = 0;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV) << "status " << status;
    std::ifstream log(folder_ + "/program.log");
    std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Typ: An attempted read or write to/from an address to which that process "
                        "isn't allowed"),
              std::string::npos)
        << text;
}
