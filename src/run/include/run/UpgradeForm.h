// The main window's side of the upgrade run, the same for every front end: tftp1 with its stored
// settings and its events bound to the window's handlers, the handlers that delegate to the run,
// the run made with its services, the close, the registration of the main window Form1, and the
// view's reading and setting of the layout's controls. A front end writes only its view: its
// window and controls under the layout's names, how an edit box's text is read and set and a
// control enabled, the status line's paint and the close of its toolkit.
#pragma once

#include "base/Component.h"
#include "run/UpgradeRun.h"
#include "tftp/IdTrivialFTP.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

// The services of the system: the launcher, the probe and the message boxes in use (the seams
// of RunSeams.h and MessageBoxes.h), with the caption.
TRunServices SystemRunServices(std::string caption);

// What the window holds of the run, and its handlers.
class TUpgradeForm : public TComponent, public TUpgradeView {
public:
    // Made by CreateRun, owned by the window and freed with it.
    TIdTrivialFTP* tftp1 = nullptr;

    // Handlers.
    void FormShow(TObject* Sender);
    void FormCloseQuery(TObject* Sender, bool& CanClose);
    void bt1Click(TObject* Sender);
    void tftp1WorkBegin(TObject* Sender, TWorkMode AWorkMode, int32_t AWorkCountMax);
    void tftp1Work(TObject* Sender, TWorkMode AWorkMode, int32_t AWorkCount);
    void tftp1WorkEnd(TObject* Sender, TWorkMode AWorkMode);

protected:
    // Named "Form1", as the stored layout names the window.
    TUpgradeForm();
    ~TUpgradeForm() override;

    // tftp1, the last component of the layout, with its stored settings and bindings; then the
    // run on this view, with the services.
    void CreateRun(TRunServices services);
    // Whether a close asked for goes on: TUpgradeRun::MayClose with FormCloseQuery.
    bool MayClose();

private:
    void LoadTftp1();

    std::unique_ptr<TUpgradeRun> FRun;
};

// The window TForm of a front end, registered in MainForm while it is the application's main
// window: the first one made. TForm has the layout's edIP, edFilename, bt1 and cgPross (whose
// SetProgress clamps and redraws), the static calls EditText, SetEditText (the program's 8-bit
// text, byte for byte) and EnableControl for them, and its FormCreate and FormDestroy; it calls
// Created at the end of its constructor and Destroying at the start of its destructor.
template <class TForm, TForm*& MainForm>
class TUpgradeWindow : public TUpgradeForm {
public:
    // The view of the run, but for the status line and the close, which are the front end's.
    std::string AddressText() const final { return TForm::EditText(Form().edIP); }
    void SetAddressText(const std::string& text) final { TForm::SetEditText(Form().edIP, text); }
    std::string FileNameText() const final { return TForm::EditText(Form().edFilename); }
    void SetFileNameText(const std::string& text) final {
        TForm::SetEditText(Form().edFilename, text);
    }
    void DisableEdits() final {
        TForm::EnableControl(Form().edIP, false);
        TForm::EnableControl(Form().edFilename, false);
    }
    void SetButtonEnabled(bool enabled) final { TForm::EnableControl(Form().bt1, enabled); }
    void SetGaugeProgress(int32_t value) final { Form().cgPross->SetProgress(value); }

protected:
    // The end of the window's creation, once its controls exist: tftp1 and the run, then
    // FormCreate; the first window made becomes the main window.
    void Created(TRunServices services) {
        CreateRun(std::move(services));
        Form().FormCreate(this);
        if (MainForm == nullptr) {
            MainForm = &Form();
        }
    }
    // The start of its destruction: FormDestroy, and the main window is gone.
    void Destroying() {
        Form().FormDestroy(this);
        if (IsMainWindow()) {
            MainForm = nullptr;
        }
    }
    // Whose close ends the application.
    bool IsMainWindow() const { return MainForm == &Form(); }

private:
    TForm& Form() { return static_cast<TForm&>(*this); }
    const TForm& Form() const { return static_cast<const TForm&>(*this); }
};
