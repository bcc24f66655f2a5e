// Ownership and loading of components as the main window uses them: owned components die with
// their owner, newest first; a component freed alone leaves its owner; Loaded runs once, after
// everything stored is set, and not for components that a Loaded itself creates.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "Component.h"
#include "Forms.h"

using namespace velmora;

namespace {

std::vector<std::string> gLog;

class TRecorder : public TComponent {
public:
    TRecorder(TComponent* owner, const std::string& name) : TComponent(owner) { SetName(name); }
    ~TRecorder() override { gLog.push_back("free " + Name()); }
    void Loaded() override { gLog.push_back("loaded " + Name()); }
};

// Makes a component of its own owner in Loaded, as the engine component makes the engines.
class TMaker : public TRecorder {
public:
    using TRecorder::TRecorder;
    void Loaded() override {
        TRecorder::Loaded();
        new TRecorder(Owner(), "made by " + Name());
    }
};

class TTestForm : public TForm {
public:
    explicit TTestForm(TComponent* owner) : TForm(owner) {
        SetName("form" + std::to_string(++fCount));
        auto* panel = new TRecorder(this, "panel");
        new TRecorder(panel, "button");
        new TMaker(this, "engine");
        new TRecorder(this, "list");
    }
    void Loaded() override { gLog.push_back("loaded " + Name()); }
    static inline int fCount = 0;
};

class TBrokenForm : public TForm {
public:
    explicit TBrokenForm(TComponent* owner) : TForm(owner) { new TRecorder(this, "part"); }
    void Loaded() override { throw std::runtime_error("cannot load"); }
};

class TDataModule : public TComponent {
public:
    using TComponent::TComponent;
};

}  // namespace

TEST(Components, OwnedComponentsAreFreedWithTheOwnerNewestFirst) {
    gLog.clear();
    auto* owner = new TRecorder(nullptr, "owner");
    new TRecorder(owner, "a");
    auto* b = new TRecorder(owner, "b");
    new TRecorder(b, "b1");
    new TRecorder(owner, "c");
    EXPECT_EQ(owner->FindComponent("b"), b);
    delete owner;
    // Each destructor body runs before the owned components go.
    EXPECT_EQ(gLog, (std::vector<std::string>{"free owner", "free c", "free b", "free b1", "free a"}));
}

TEST(Components, AChildFreedAloneLeavesItsOwner) {
    gLog.clear();
    TRecorder owner(nullptr, "owner");
    new TRecorder(&owner, "a");
    auto* b = new TRecorder(&owner, "b");
    new TRecorder(&owner, "c");
    delete b;
    ASSERT_EQ(owner.ComponentCount(), 2);
    EXPECT_EQ(owner.Components(0)->Name(), "a");
    EXPECT_EQ(owner.Components(1)->Name(), "c");
    EXPECT_EQ(owner.FindComponent("b"), nullptr);
}

TEST(Components, LoadingRunsDepthFirstOnceAndSkipsWhatLoadedCreates) {
    gLog.clear();
    TTestForm form(nullptr);
    LoadComponents(&form);
    EXPECT_EQ(gLog, (std::vector<std::string>{"loaded button", "loaded panel", "loaded engine", "loaded list",
                                              "loaded " + form.Name()}));
    // The made component is owned by the form and freed with it.
    EXPECT_NE(form.FindComponent("made by engine"), nullptr);
}

TEST(Components, ApplicationMakesTheFirstFormTheMainFormAndFreesFormsNewestFirst) {
    TApplication& app = Application();
    app.FreeForms();
    gLog.clear();
    app.CreateForm<TDataModule>();  // a data module is never the main form
    EXPECT_EQ(app.MainForm(), nullptr);
    auto* first = app.CreateForm<TTestForm>();
    auto* second = app.CreateForm<TTestForm>();
    EXPECT_EQ(app.MainForm(), first);
    EXPECT_EQ(first->Owner(), &app);
    EXPECT_NE(second, first);
    EXPECT_TRUE(std::find(gLog.begin(), gLog.end(), "loaded " + first->Name()) != gLog.end());

    gLog.clear();
    app.FreeForms();
    EXPECT_EQ(app.MainForm(), nullptr);
    EXPECT_EQ(app.ComponentCount(), 0);
    const std::vector<std::string> oneForm{"free made by engine", "free list", "free engine", "free panel",
                                           "free button"};
    std::vector<std::string> both = oneForm;
    both.insert(both.end(), oneForm.begin(), oneForm.end());
    EXPECT_EQ(gLog, both);
}

TEST(Components, AFormThatFailsToLoadIsNotKept) {
    TApplication& app = Application();
    app.FreeForms();
    gLog.clear();
    EXPECT_THROW(app.CreateForm<TBrokenForm>(), std::runtime_error);
    EXPECT_EQ(app.MainForm(), nullptr);
    EXPECT_EQ(app.ComponentCount(), 0);
    EXPECT_EQ(gLog, (std::vector<std::string>{"loaded part", "free part"}));
    // The next form becomes the main form.
    auto* form = app.CreateForm<TTestForm>();
    EXPECT_EQ(app.MainForm(), form);
    app.FreeForms();
}
