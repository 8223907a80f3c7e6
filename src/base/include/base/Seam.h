// A seam: one replaceable service of the program (the socket library's loading, the start of a
// helper program, the size probe of a file, the message boxes, the settings file's system calls),
// reached through a small interface. The program uses the standard implementation; a test puts
// its own in place for a scope, and the end of the scope puts back the one that was in use.
//
//   TProcessLauncher& SystemLauncher();                   // the standard implementation
//   TSeam<TProcessLauncher> ProcessLauncher(&SystemLauncher);
//   ProcessLauncher().Start(...);                         // every use
//   TSeamOverride<TProcessLauncher> inUse(ProcessLauncher, recording);  // a test, for a scope
//
// The program has one thread that uses a seam; overrides nest, each one ending before the one
// made before it.
#pragma once

template <class TService>
class TSeamOverride;

template <class TService>
class TSeam {
public:
    // standard gives the implementation in use when no override is: a function, so that the
    // seam is usable during the start-up of the program whatever the order of its objects.
    using TStandard = TService& (*)();
    constexpr explicit TSeam(TStandard standard) : FStandard(standard) {}
    TSeam(const TSeam&) = delete;
    TSeam& operator=(const TSeam&) = delete;

    // The implementation in use.
    TService& operator()() const { return FCurrent != nullptr ? *FCurrent : FStandard(); }
    TService& Standard() const { return FStandard(); }

private:
    friend class TSeamOverride<TService>;

    TStandard FStandard;
    TService* FCurrent = nullptr;
};

// Puts a replacement in place of a seam's implementation for the life of the object.
template <class TService>
class TSeamOverride {
public:
    TSeamOverride(TSeam<TService>& seam, TService& replacement)
        : FSeam(seam), FPrevious(seam.FCurrent) {
        seam.FCurrent = &replacement;
    }
    ~TSeamOverride() { FSeam.FCurrent = FPrevious; }
    TSeamOverride(const TSeamOverride&) = delete;
    TSeamOverride& operator=(const TSeamOverride&) = delete;

    // What was in use before: a replacement that only watches or alters a few calls passes the
    // others on to it.
    TService& Previous() const { return FPrevious != nullptr ? *FPrevious : FSeam.Standard(); }

private:
    TSeam<TService>& FSeam;
    TService* FPrevious;
};
