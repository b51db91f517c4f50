#include "editor/Layout.h"

#include <string_view>

namespace vm::layout {

namespace {

using K = tKind;
using A = TAlignment;

constexpr TColor kWhite = RGB(255, 255, 255);
constexpr TColor kNearWhite = RGB(252, 252, 252);  // the smaller captions
constexpr int kHolderTop = 430;  // picture holders sit below the 423-pixel client area

// #, name, kind, left, top, width, height, visible
constexpr tComponent kComponents[] = {
    /*   1 */ {"IFacePlate", K::Image, 0, 0, 828, 423, true},
    /*   2 */ {"BrushedMetal", K::BrushedMetal, 0, -2, 828, 425, false},
    /*   3 */ {"panTitle", K::PaintedPanel, 23, 6, 782, 40, false},
    /*   4 */ {"panDisplay", K::PaintedPanel, 23, 50, 225, 119, true},
    /*   5 */ {"panVibrato", K::PaintedPanel, 252, 50, 269, 119, true},
    /*   6 */ {"panDynamics", K::PaintedPanel, 525, 50, 280, 119, true},
    /*   7 */ {"panClones", K::PaintedPanel, 23, 173, 111, 244, false},
    /*   8 */ {"panVoxmorph", K::PaintedPanel, 138, 173, 666, 120, false},
    /*   9 */ {"panPositions", K::PaintedPanel, 138, 296, 666, 120, false},
    /*  10 */ {"ImageScrew1", K::Image, 2, 6, 14, 13, true},
    /*  11 */ {"ImageScrew2", K::Image, 814, 6, 14, 13, true},
    /*  12 */ {"ImageScrew3", K::Image, 2, 406, 14, 13, true},
    /*  13 */ {"ImageScrew4", K::Image, 814, 406, 13, 13, true},
    /*  14 */ {"Bevel1", K::Bevel, 17, 0, 9, 427, true},
    /*  15 */ {"Bevel2", K::Bevel, 809, 0, 9, 427, true},
    /*  16 */ {"iDisplayBorder", K::Image, 35, 56, 202, 88, true},
    /*  17 */ {"iLCDHole", K::Image, 35, 145, 202, 18, true},
    /*  18 */ {"iRandomVibratoHole", K::Image, 457, 75, 45, 52, true},
    /*  19 */ {"iRandomDynamicsHole", K::Image, 735, 75, 45, 52, true},
    /*  20 */ {"i4ButtonHole", K::Image, 168, 322, 162, 52, true},
    /*  21 */ {"LogoImage", K::Image, 31, 8, 183, 34, true},
    /*  22 */ {"labVersionShadow", K::Label, 221, 28, 22, 13, true},
    /*  23 */ {"labVersion", K::Label, 220, 27, 22, 13, true},
    /*  24 */ {"labCopyrightShadow", K::Label, 616, 12, 179, 13, true},
    /*  25 */ {"labCopyright", K::Label, 615, 11, 179, 13, true},
    /*  26 */ {"labURLShadow", K::Label, 674, 28, 121, 13, true},
    /*  27 */ {"labURL", K::Label, 673, 27, 121, 13, true},
    /*  28 */ {"labLCDSetup", K::Label, 41, 147, 15, 13, true},
    /*  29 */ {"labLCDBass", K::Label, 65, 147, 28, 13, true},
    /*  30 */ {"labLCDDiv1", K::DividerLabel, 97, 147, 5, 13, true},
    /*  31 */ {"labLCDUnison", K::Label, 105, 147, 40, 13, true},
    /*  32 */ {"labLCDDiv2", K::DividerLabel, 153, 147, 5, 13, true},
    /*  33 */ {"labLCDAlto", K::Label, 161, 147, 23, 13, true},
    /*  34 */ {"labVibratoShadow", K::Label, 368, 149, 41, 13, true},
    /*  35 */ {"labVibrato", K::Label, 367, 148, 41, 13, true},
    /*  36 */ {"labRandomShadow", K::Label, 461, 131, 40, 13, true},
    /*  37 */ {"labRandom", K::Label, 460, 130, 40, 13, true},
    /*  38 */ {"labDynamicsShadow", K::Label, 616, 149, 101, 13, true},
    /*  39 */ {"labDynamics", K::Label, 615, 148, 101, 13, true},
    /*  40 */ {"labDynRandShadow", K::Label, 739, 131, 40, 13, true},
    /*  41 */ {"labDynRand", K::Label, 738, 130, 40, 13, true},
    /*  42 */ {"labClonesShadow", K::Label, 59, 271, 39, 13, true},
    /*  43 */ {"labClones", K::Label, 58, 272, 39, 13, true},
    // Centred on rkTiming's axis (x 77.5) like the other knob captions on theirs.
    /*  44 */ {"labTimingShadow", K::Label, 60, 396, 38, 13, true},
    /*  45 */ {"labTiming", K::Label, 59, 395, 38, 13, true},
    /*  46 */ {"labSplitShadow", K::Label, 164, 273, 74, 13, true},
    /*  47 */ {"labSplit", K::Label, 163, 272, 74, 13, true},
    /*  48 */ {"labBassClonesShadow", K::Label, 280, 273, 129, 13, true},
    /*  49 */ {"labBassClones", K::Label, 279, 272, 129, 13, true},
    /*  50 */ {"labUnshiftedShadow", K::Label, 452, 179, 55, 13, true},
    /*  51 */ {"labUnshifted", K::Label, 451, 178, 55, 13, true},
    /*  52 */ {"labUnisonClonesShadow", K::Label, 453, 273, 141, 13, true},
    /*  53 */ {"labUnisonClones", K::Label, 452, 272, 141, 13, true},
    /*  54 */ {"labAltoClonesShadow", K::Label, 650, 273, 124, 13, true},
    /*  55 */ {"labAltoClones", K::Label, 649, 272, 124, 13, true},
    /*  56 */ {"labSectionShadow", K::Label, 227, 396, 44, 13, true},
    /*  57 */ {"labSection", K::Label, 226, 395, 44, 13, true},
    /*  58 */ {"labSectionAShadow", K::Label, 188, 378, 7, 13, true},
    /*  59 */ {"labSectionBShadow", K::Label, 227, 378, 7, 13, true},
    /*  60 */ {"labSectionCShadow", K::Label, 266, 378, 7, 13, true},
    /*  61 */ {"labSectionDShadow", K::Label, 305, 378, 8, 13, true},
    /*  62 */ {"labSectionA", K::Label, 187, 377, 7, 13, true},
    /*  63 */ {"labSectionB", K::Label, 226, 377, 7, 13, true},
    /*  64 */ {"labSectionC", K::Label, 265, 377, 7, 13, true},
    /*  65 */ {"labSectionD", K::Label, 304, 377, 8, 13, true},
    /*  66 */ {"labFocusShadow", K::Label, 371, 396, 35, 13, true},
    /*  67 */ {"labFocus", K::Label, 370, 395, 35, 13, true},
    /*  68 */ {"labBalanceShadow", K::Label, 456, 396, 47, 13, true},
    /*  69 */ {"labBalance", K::Label, 455, 395, 47, 13, true},
    /*  70 */ {"labMixShadow", K::Label, 560, 396, 20, 13, true},
    /*  71 */ {"labMix", K::Label, 559, 395, 20, 13, true},
    /*  72 */ {"labDryDelayShadow", K::Label, 638, 396, 56, 13, true},
    /*  73 */ {"labDryDelay", K::Label, 637, 395, 56, 13, true},
    /*  74 */ {"labGainShadow", K::Label, 744, 396, 27, 13, true},
    /*  75 */ {"labGain", K::Label, 743, 395, 27, 13, true},
    /*  76 */ {"iUpOn", K::Image, 0, kHolderTop, 38, 46, false},
    /*  77 */ {"iUpOff", K::Image, 40, kHolderTop, 38, 46, false},
    /*  78 */ {"IUpOff2", K::Image, 80, kHolderTop, 38, 46, false},
    /*  79 */ {"IUpOff3", K::Image, 120, kHolderTop, 38, 46, false},
    /*  80 */ {"IUpOff4", K::Image, 160, kHolderTop, 38, 46, false},
    /*  81 */ {"iDownOn", K::Image, 200, kHolderTop, 38, 46, false},
    /*  82 */ {"iDownOff", K::Image, 240, kHolderTop, 38, 46, false},
    /*  83 */ {"iUpOffDis", K::Image, 280, kHolderTop, 38, 46, false},
    /*  84 */ {"IUpOnDis", K::Image, 320, kHolderTop, 38, 46, false},
    /*  85 */ {"iKnob", K::Image, 360, kHolderTop, 53, 53, false},
    /*  86 */ {"iKnobDisabled", K::Image, 420, kHolderTop, 53, 53, false},
    /*  87 */ {"iKnobDark", K::Image, 480, kHolderTop, 53, 53, false},
    /*  88 */ {"iKnobDarkDisabled", K::Image, 540, kHolderTop, 53, 53, false},
    /*  89 */ {"InnerDot", K::Image, 600, kHolderTop, 6, 6, false},
    /*  90 */ {"IShimmer1", K::Image, 610, kHolderTop, 37, 37, false},
    /*  91 */ {"IShimmer2", K::Image, 650, kHolderTop, 37, 37, false},
    /*  92 */ {"IShimmer3", K::Image, 690, kHolderTop, 37, 37, false},
    /*  93 */ {"IShimmer4", K::Image, 730, kHolderTop, 37, 37, false},
    /*  94 */ {"pbDisplay", K::PaintBox, 41, 60, 190, 81, true},
    /*  95 */ {"rkVibratoDepth", K::Knob, 247, 48, 104, 104, true},
    /*  96 */ {"rkVibratoRate", K::Knob, 336, 48, 104, 104, true},
    /*  97 */ {"rbVibratoRandom", K::LEDButton, 460, 78, 40, 48, true},
    /*  98 */ {"rkDynamicsDepth", K::Knob, 516, 48, 104, 104, true},
    /*  99 */ {"rkDynamicsRate", K::Knob, 613, 48, 104, 104, true},
    /* 100 */ {"rbDynamicsRandom", K::LEDButton, 738, 78, 40, 48, true},
    /* 101 */ {"rkClones", K::Knob, 25, 172, 104, 104, true},
    /* 102 */ {"rkTiming", K::Knob, 25, 295, 104, 104, true},
    /* 103 */ {"rkSplit", K::Knob, 142, 165, 116, 117, true},
    /* 104 */ {"rkBassFormants", K::Knob, 247, 172, 104, 104, true},
    /* 105 */ {"rkBassLevel", K::Knob, 336, 172, 104, 104, true},
    /* 106 */ {"rkUnisonFormants", K::Knob, 424, 170, 108, 108, true},
    /* 107 */ {"rkUnisonLevel", K::Knob, 516, 172, 104, 104, true},
    /* 108 */ {"rkAltoFormants", K::Knob, 613, 172, 104, 104, true},
    /* 109 */ {"rkAltoLevel", K::Knob, 704, 172, 104, 104, true},
    /* 110 */ {"rbSectionA", K::LEDButton, 171, 325, 40, 48, true},
    /* 111 */ {"rbSectionB", K::LEDButton, 210, 325, 40, 48, true},
    /* 112 */ {"rbSectionC", K::LEDButton, 249, 325, 40, 48, true},
    /* 113 */ {"rbSectionD", K::LEDButton, 288, 325, 40, 48, true},
    /* 114 */ {"rkFocus", K::Knob, 336, 295, 104, 104, true},
    /* 115 */ {"rkBalance", K::Knob, 426, 295, 104, 104, true},
    /* 116 */ {"rkMix", K::Knob, 516, 295, 104, 104, true},
    /* 117 */ {"rkDryDelay", K::Knob, 613, 295, 104, 104, true},
    /* 118 */ {"rkGain", K::Knob, 704, 295, 104, 104, true},
    /* 119 */ {"iKnobLight", K::Image, 770, kHolderTop, 53, 53, false},
    /* 120 */ {"iKnobLightDisabled", K::Image, 830, kHolderTop, 53, 53, false},
};
static_assert(std::size(kComponents) == 120);

// The version, notice and web-address captions are replaced or are the maker's own; the
// version placeholder is overwritten with the program's version when the form is created.
constexpr tLabel kLabels[] = {
    {"labVersionShadow", "4.0", kShadowColour, false, A::taCenter, "labVersion"},
    {"labVersion", "4.0", kWhite, false, A::taCenter, nullptr},
    {"labCopyrightShadow", "(c) 2026 the V42_MS developers", kShadowColour, false, A::taLeftJustify, "labCopyright"},
    {"labCopyright", "(c) 2026 the V42_MS developers", kWhite, false, A::taLeftJustify, nullptr},
    {"labURLShadow", "voicemultiply.example", kShadowColour, false, A::taRightJustify, "labURL"},
    {"labURL", "voicemultiply.example", kWhite, false, A::taRightJustify, nullptr},
    {"labLCDSetup", "All", RGB(0, 206, 0), true, A::taLeftJustify, nullptr},
    {"labLCDBass", "Bass", RGB(94, 94, 255), true, A::taLeftJustify, nullptr},
    {"labLCDDiv1", ":", RGB(0, 191, 0), true, A::taLeftJustify, nullptr},
    {"labLCDUnison", "Unison", RGB(0, 206, 0), true, A::taLeftJustify, nullptr},
    {"labLCDDiv2", ":", RGB(0, 191, 0), true, A::taLeftJustify, nullptr},
    {"labLCDAlto", "Alto", RGB(255, 64, 255), true, A::taLeftJustify, nullptr},
    {"labVibratoShadow", "Vibrato", kShadowColour, true, A::taCenter, "labVibrato"},
    {"labVibrato", "Vibrato", kWhite, true, A::taCenter, nullptr},
    {"labRandomShadow", "Random", kShadowColour, false, A::taCenter, "labRandom"},
    {"labRandom", "Random", kNearWhite, false, A::taCenter, nullptr},
    {"labDynamicsShadow", "Varying Dynamics", kShadowColour, true, A::taCenter, "labDynamics"},
    {"labDynamics", "Varying Dynamics", kWhite, true, A::taCenter, nullptr},
    {"labDynRandShadow", "Random", kShadowColour, false, A::taCenter, "labDynRand"},
    {"labDynRand", "Random", kNearWhite, false, A::taCenter, nullptr},
    {"labClonesShadow", "Clones", kShadowColour, true, A::taCenter, "labClones"},
    {"labClones", "Clones", kWhite, true, A::taCenter, nullptr},
    {"labTimingShadow", "Timing", kShadowColour, true, A::taCenter, "labTiming"},
    {"labTiming", "Timing", kWhite, true, A::taCenter, nullptr},
    {"labSplitShadow", "Voxmorph", kShadowColour, true, A::taCenter, "labSplit"},
    {"labSplit", "Voxmorph", kWhite, true, A::taCenter, nullptr},
    {"labBassClonesShadow", "Bass Formants && Level", kShadowColour, true, A::taCenter, "labBassClones"},
    {"labBassClones", "Bass Formants && Level", kWhite, true, A::taCenter, nullptr},
    {"labUnshiftedShadow", "Unshifted", kShadowColour, true, A::taCenter, "labUnshifted"},
    {"labUnshifted", "Unshifted", kWhite, true, A::taCenter, nullptr},
    {"labUnisonClonesShadow", "Unison Formants && Level", kShadowColour, true, A::taCenter, "labUnisonClones"},
    {"labUnisonClones", "Unison Formants && Level", kWhite, true, A::taCenter, nullptr},
    {"labAltoClonesShadow", "Alto Formants && Level", kShadowColour, true, A::taCenter, "labAltoClones"},
    {"labAltoClones", "Alto Formants && Level", kWhite, true, A::taCenter, nullptr},
    {"labSectionShadow", "Section", kShadowColour, true, A::taCenter, "labSection"},
    {"labSection", "Section", kWhite, true, A::taCenter, nullptr},
    {"labSectionAShadow", "A", kShadowColour, false, A::taCenter, "labSectionA"},
    {"labSectionBShadow", "B", kShadowColour, false, A::taCenter, "labSectionB"},
    {"labSectionCShadow", "C", kShadowColour, false, A::taCenter, "labSectionC"},
    {"labSectionDShadow", "D", kShadowColour, false, A::taCenter, "labSectionD"},
    {"labSectionA", "A", kNearWhite, false, A::taCenter, nullptr},
    {"labSectionB", "B", kNearWhite, false, A::taCenter, nullptr},
    {"labSectionC", "C", kNearWhite, false, A::taCenter, nullptr},
    {"labSectionD", "D", kNearWhite, false, A::taCenter, nullptr},
    {"labFocusShadow", "Focus", kShadowColour, true, A::taCenter, "labFocus"},
    {"labFocus", "Focus", kWhite, true, A::taCenter, nullptr},
    {"labBalanceShadow", "Balance", kShadowColour, true, A::taCenter, "labBalance"},
    {"labBalance", "Balance", kWhite, true, A::taCenter, nullptr},
    {"labMixShadow", "Mix", kShadowColour, true, A::taCenter, "labMix"},
    {"labMix", "Mix", kWhite, true, A::taCenter, nullptr},
    {"labDryDelayShadow", "Dry Delay", kShadowColour, true, A::taCenter, "labDryDelay"},
    {"labDryDelay", "Dry Delay", kWhite, true, A::taCenter, nullptr},
    {"labGainShadow", "Gain", kShadowColour, true, A::taCenter, "labGain"},
    {"labGain", "Gain", kWhite, true, A::taCenter, nullptr},
};
static_assert(std::size(kLabels) == 54);

TBitmap ScrewPicture() { return artwork::Screw(); }

// name, picture, transparent, stretched
const tPicture kPanelPictures[] = {
    {"IFacePlate", nullptr, false, false},  // the look decides (face plate or nothing)
    {"ImageScrew1", ScrewPicture, true, false},
    {"ImageScrew2", ScrewPicture, true, false},
    {"ImageScrew3", ScrewPicture, true, false},
    {"ImageScrew4", ScrewPicture, true, false},
    {"iDisplayBorder", [] { return artwork::DisplayBezel(); }, false, true},   // 182 by 88 into 202 by 88
    {"iLCDHole", [] { return artwork::Recess(182, 18); }, false, true},        // into 202 by 18
    {"iRandomVibratoHole", [] { return artwork::Recess(44, 51); }, false, false},
    {"iRandomDynamicsHole", [] { return artwork::Recess(44, 51); }, false, false},
    {"i4ButtonHole", [] { return artwork::Recess(161, 51); }, false, false},
    {"LogoImage", [] { return artwork::Logo(); }, true, false},
};

template <TButtonPicture P>
TBitmap ButtonPicture() { return artwork::Button(P); }
template <TKnobShade S, bool Disabled>
TBitmap KnobPicture() { return artwork::KnobFace(S, Disabled); }
template <int K>
TBitmap ShimmerPicture() { return artwork::Shimmer(K); }

using B = TButtonPicture;
using S = TKnobShade;
const tPicture kPictureHolders[] = {
    {"iUpOn", ButtonPicture<B::UpOn>, false, false},
    {"iUpOff", ButtonPicture<B::UpOff>, false, false},
    {"IUpOff2", ButtonPicture<B::UpOff2>, false, false},
    {"IUpOff3", ButtonPicture<B::UpOff3>, false, false},
    {"IUpOff4", ButtonPicture<B::UpOff4>, false, false},
    {"iDownOn", ButtonPicture<B::DownOn>, false, false},
    {"iDownOff", ButtonPicture<B::DownOff>, false, false},
    {"iUpOffDis", ButtonPicture<B::UpOffDis>, false, false},
    {"IUpOnDis", ButtonPicture<B::UpOnDis>, false, false},
    {"iKnob", KnobPicture<S::Normal, false>, true, false},
    {"iKnobDisabled", KnobPicture<S::Normal, true>, true, false},
    {"iKnobDark", KnobPicture<S::Dark, false>, true, false},
    {"iKnobDarkDisabled", KnobPicture<S::Dark, true>, true, false},
    {"InnerDot", [] { return artwork::KnobDot(); }, false, false},
    {"IShimmer1", ShimmerPicture<1>, true, false},
    {"IShimmer2", ShimmerPicture<2>, true, false},
    {"IShimmer3", ShimmerPicture<3>, true, false},
    {"IShimmer4", ShimmerPicture<4>, true, false},
    {"iKnobLight", KnobPicture<S::Light, false>, true, false},
    {"iKnobLightDisabled", KnobPicture<S::Light, true>, true, false},
};

// Tick marks of rkClones: only the odd ticks (the even voice counts 2, 4, ... 32).
constexpr const char kClonesTicks[] = " . . . . . . . . . . . . . . . .";
// Tick marks of rkUnisonFormants: every other one of its 21 ticks, longer than needed.
constexpr const char kUnisonFormantsTicks[] = ". . . . . . . . . . . . . . . . . . . .";
static_assert(std::string_view(kClonesTicks).size() == 32);
static_assert(std::string_view(kUnisonFormantsTicks).size() == 39);

constexpr float kNudgeSmall = 0.075f;
constexpr float kNudgeLarge = 0.12f;
constexpr float kClonesAngleOffset = 0.0138f;  // rounded; replaced by the exact half tick

// name, parameter, face, ticks, labels, quantise, BotLabNudge, ShowTicks, AngleOffset
const tKnob kKnobs[] = {
    {"rkVibratoDepth", 2, "iKnobLight", 11, {"Thin", "Thick"}, false, kNudgeSmall, nullptr, 0},
    {"rkVibratoRate", 3, "iKnob", 11, {"Slow", "Fast"}, false, kNudgeSmall, nullptr, 0},
    {"rkDynamicsDepth", 15, "iKnob", 11, {"Off", "Deep"}, false, kNudgeSmall, nullptr, 0},
    {"rkDynamicsRate", 16, "iKnobDark", 11, {"V.Slow", "Faster"}, false, kNudgeSmall, nullptr, 0},
    {"rkClones", 0, "iKnobLight", 32,
     {"", "2", "", "4", "", "6", "", "8", "", "10", "", "12", "", "14", "", "16",
      "", "18", "", "20", "", "22", "", "24", "", "26", "", "28", "", "30", "", "32"},
     true, 0, kClonesTicks, kClonesAngleOffset},
    {"rkTiming", 1, "iKnobLight", 11, {"Tight", "Medium", "Loose"}, false, kNudgeSmall, nullptr, 0},
    {"rkSplit", 5, "iKnobLight", 6, {"Unison", "Bass", "Alto", "B:U", "U:A", "B:U:A"}, true, kNudgeLarge, nullptr, 0},
    {"rkBassFormants", 6, "iKnob", 11, {"Normal", "Macho", "Deep"}, false, kNudgeLarge, nullptr, 0},
    {"rkBassLevel", 7, "iKnob", 11, {"-10", "0db", "+10"}, false, 0, nullptr, 0},
    {"rkUnisonFormants", 18, "iKnob", 21, {"Macho", "Feminine"}, true, kNudgeLarge, kUnisonFormantsTicks, 0},
    {"rkUnisonLevel", 19, "iKnobDark", 11, {"-10", "0db", "+10"}, false, 0, nullptr, 0},
    {"rkAltoFormants", 8, "iKnobDark", 11, {"Normal", "Feminine", "Child"}, false, kNudgeLarge, nullptr, 0},
    {"rkAltoLevel", 9, "iKnobDark", 11, {"-10", "0db", "+10"}, false, 0, nullptr, 0},
    {"rkFocus", 11, "iKnobDark", 11, {"Narrow", "Wide"}, false, kNudgeSmall, nullptr, 0},
    {"rkBalance", 12, "iKnobDark", 11, {"Left", "Even spread", "Right"}, false, kNudgeSmall, nullptr, 0},
    {"rkMix", 13, "iKnobDark", 11, {"Dry", "Wet"}, false, kNudgeSmall, nullptr, 0},
    {"rkDryDelay", 14, "iKnobDark", 6, {"0 ms", "250 ms"}, false, kNudgeLarge, nullptr, 0},
    {"rkGain", 20, "iKnobDark", 9, {"-20", "0db", "+20"}, false, kNudgeLarge, nullptr, 0},
};

// name, UpOff, QuickChange, OnChange, OnLEDChange, parameter, section
constexpr tLEDButton kLEDButtons[] = {
    {"rbVibratoRandom", "IUpOff2", false, "rbVibratoRandomChange", nullptr, 4, -1},
    {"rbDynamicsRandom", "IUpOff2", false, "rbDynamicsRandomChange", nullptr, 17, -1},
    {"rbSectionA", "iUpOff", true, "rbSectionChange", "rbSectionLEDChange", 10, 0},
    {"rbSectionB", "IUpOff2", true, "rbSectionChange", "rbSectionLEDChange", 10, 1},
    {"rbSectionC", "IUpOff3", true, "rbSectionChange", "rbSectionLEDChange", 10, 2},
    {"rbSectionD", "IUpOff4", true, "rbSectionChange", "rbSectionLEDChange", 10, 3},
};

}  // namespace

std::span<const tComponent> Components() { return kComponents; }
std::span<const tLabel> Labels() { return kLabels; }
std::span<const tPicture> PanelPictures() { return kPanelPictures; }
std::span<const tPicture> PictureHolders() { return kPictureHolders; }
std::span<const tKnob> Knobs() { return kKnobs; }
std::span<const tLEDButton> LEDButtons() { return kLEDButtons; }

}  // namespace vm::layout
