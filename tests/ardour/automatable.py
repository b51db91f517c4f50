#!/usr/bin/env python3
"""Reads the session Ardour saved with the plug-in and checks that Ardour took every one
of its 21 parameters as automatable: the plug-in's processor holds one Controllable per
parameter index 0..20, none flagged NotAutomatable, and an automation list for each.

Ardour asks a VST 2 plug-in effCanBeAutomated for each parameter when it adds the
plug-in; a parameter answered 0 is saved with flags="NotAutomatable" and cannot be
automated from the track.

usage: automatable.py SESSION.ardour [PLUGIN_NAME]
"""
import sys
import xml.etree.ElementTree as ET

PARAMETERS = 21


def plugin_processor(root, name):
    found = [p for p in root.iter("Processor") if p.get("type") == "lxvst" and p.get("name") == name]
    if len(found) != 1:
        sys.exit(f"automatable: expected one {name} processor in the session, found {len(found)}")
    return found[0]


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    name = sys.argv[2] if len(sys.argv) == 3 else "VoicemultiplyV42_MS"
    processor = plugin_processor(ET.parse(sys.argv[1]).getroot(), name)

    controls = {}
    for control in processor.findall("Controllable"):
        if control.get("parameter") is not None:
            controls[int(control.get("parameter"))] = control
    lists = {a.get("automation-id") for a in processor.iter("AutomationList")}

    problems = []
    if sorted(controls) != list(range(PARAMETERS)):
        problems.append(f"parameters saved: {sorted(controls)}, expected 0..{PARAMETERS - 1}")
    for index, control in sorted(controls.items()):
        flags = (control.get("flags") or "").split(",")
        if "NotAutomatable" in flags:
            problems.append(f"parameter {index} ({control.get('name', '').strip()}) is NotAutomatable")
        if f"parameter-{index}" not in lists:
            problems.append(f"parameter {index} has no automation list")
    for line in problems:
        print("automatable:", line)
    if problems:
        sys.exit(1)
    print(f"automatable: all {PARAMETERS} parameters can be automated in Ardour")


if __name__ == "__main__":
    main()
