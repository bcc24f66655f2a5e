// Forms and the application object: a form owns components and has a caption and window state but
// no real window; the application keeps the forms, the main form and the message loop.
#pragma once

#include <functional>
#include <string>

#include "Component.h"
#include "WindowTitle.h"

namespace velmora {

using TObject = TComponent;
using TNotifyEvent = std::function<void(TObject* sender)>;

enum TWindowState { wsNormal, wsMinimized, wsMaximized };

class TForm : public TComponent {
public:
    explicit TForm(TComponent* owner = nullptr) : TComponent(owner) {}

    const std::string& Caption() const noexcept { return FCaption; }
    void SetCaption(const std::string& caption) { FCaption = caption; }
    TWindowState WindowState() const noexcept { return FWindowState; }
    void SetWindowState(TWindowState s) noexcept { FWindowState = s; }
    bool Visible() const noexcept { return FVisible; }
    void Show() noexcept { FVisible = true; }
    void Hide() noexcept { FVisible = false; }

private:
    std::string FCaption;
    TWindowState FWindowState = wsNormal;
    bool FVisible = false;
};

// The process's application object (one per process, see Application()). It owns the forms and
// data modules made through CreateForm; the first form made becomes the main form.
class TApplication : public TComponent {
public:
    TApplication() = default;

    const std::string& Title() const noexcept { return FWindow.Title(); }
    // The title of the application's window, which other processes find by FindWindowByTitle.
    void SetTitle(const std::string& title);
    bool TitlePublished() const noexcept { return FWindow.Published(); }
    TForm* MainForm() const noexcept { return FMainForm; }
    bool ShowMainForm = true;
    bool Terminated() const noexcept { return FTerminated; }

    // Makes a form (or data module) owned by the application; a form's own constructor builds
    // its components and settings, then CreateForm calls Loaded on each component, then the form.
    template <class T>
    T* CreateForm() {
        T* form = new T(this);
        FinishCreate(form);
        return form;
    }

    // The message loop of the calling thread until Terminate (or WM_CLOSE); shows the main form
    // first when ShowMainForm is on.
    void Run();
    void ProcessMessages();
    void Terminate() noexcept { FTerminated = true; }
    // Frees every form and data module, last created first, ignoring exceptions of any one.
    void FreeForms() noexcept { DestroyComponents(); FMainForm = nullptr; }

private:
    void FinishCreate(TComponent* form);

    TWindowTitle FWindow;
    TForm* FMainForm = nullptr;
    bool FTerminated = false;
};

TApplication& Application();

// Calls Loaded on every component owned by c (depth first), then on c itself.
void LoadComponents(TComponent* c);

}  // namespace velmora
