#include "run/UpgradeForm.h"

#include <utility>

TRunServices SystemRunServices(std::string caption) {
    return {ProcessLauncher(), FileProbe(), MessageBoxes(), std::move(caption)};
}

TUpgradeForm::TUpgradeForm() : TComponent(nullptr) {
    TComponent::SetName("Form1");
}

// The run goes before tftp1, which the window's TComponent frees after this.
TUpgradeForm::~TUpgradeForm() = default;

void TUpgradeForm::CreateRun(TRunServices services) {
    tftp1 = new TIdTrivialFTP(this); // owned by the window, freed with it
    LoadTftp1();
    FRun = std::make_unique<TUpgradeRun>(*this, *tftp1, std::move(services));
}

void TUpgradeForm::LoadTftp1() {
    BeginLoading();
    TUpgradeRun::LoadStoredSettings(*tftp1);
    tftp1->OnWorkBegin = [this](TObject* sender, TWorkMode mode, int32_t countMax) {
        tftp1WorkBegin(sender, mode, countMax);
    };
    tftp1->OnWork = [this](TObject* sender, TWorkMode mode, int32_t count) {
        tftp1Work(sender, mode, count);
    };
    tftp1->OnWorkEnd = [this](TObject* sender, TWorkMode mode) { tftp1WorkEnd(sender, mode); };
    EndLoading();
}

bool TUpgradeForm::MayClose() {
    return FRun->MayClose([this](bool& canClose) { FormCloseQuery(this, canClose); });
}

void TUpgradeForm::FormShow(TObject* /*Sender*/) {
    FRun->Show();
}

void TUpgradeForm::FormCloseQuery(TObject* /*Sender*/, bool& CanClose) {
    FRun->CloseQuery(CanClose);
}

void TUpgradeForm::bt1Click(TObject* /*Sender*/) {
    FRun->Upgrade();
}

void TUpgradeForm::tftp1WorkBegin(TObject* /*Sender*/, TWorkMode /*AWorkMode*/,
                                  int32_t /*AWorkCountMax*/) {
    FRun->WorkBegin();
}

void TUpgradeForm::tftp1Work(TObject* /*Sender*/, TWorkMode /*AWorkMode*/, int32_t AWorkCount) {
    FRun->Work(AWorkCount);
}

void TUpgradeForm::tftp1WorkEnd(TObject* /*Sender*/, TWorkMode /*AWorkMode*/) {
    FRun->WorkEnd();
}
