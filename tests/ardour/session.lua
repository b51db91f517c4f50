-- Ardour as a real host: a mono track fed by the test vowel, the plug-in after it with
-- fixed settings, and a float WAV export of the range. Run by scripts/ardour.sh through
-- ardour7-lua; the folder and the settings come from the environment.
local dir = assert (os.getenv ("VM_ARDOUR_DIR"), "VM_ARDOUR_DIR not set")
local seconds = tonumber (os.getenv ("VM_ARDOUR_SECONDS") or "4")
local rate = 48000

local backend = AudioEngine:set_backend ("None (Dummy)", "", "")
assert (backend, "no dummy backend")
backend:set_device_name ("Silence")
assert (create_session (dir .. "/session", "vm", rate), "session not created")

local tracks = Session:new_audio_track (1, 2, nil, 1, "voice", ARDOUR.PresentationInfo.max_order,
                                        ARDOUR.TrackMode.Normal, true)
local track = tracks:front ()

-- vowel.lua sits in the user's script folder, where Ardour finds its Lua processors.
local vowel = ARDOUR.LuaAPI.new_luaproc (Session, "Voicemultiply test vowel")
assert (not vowel:isnil (), "vowel generator not created")
assert (track:add_processor_by_index (vowel, 0, nil, true) == 0, "vowel not added")

local effect = ARDOUR.LuaAPI.new_plugin (Session, "VoicemultiplyV42_MS", ARDOUR.PluginType.LXVST, "")
assert (not effect:isnil (), "the plug-in was not found by Ardour")
assert (track:add_processor_by_index (effect, 1, nil, true) == 0, "plug-in not added")
local insert = effect:to_insert ()
local plugin = insert:plugin (0)
print ("parameters", plugin:parameter_count ())
print ("streams", insert:input_streams ():n_audio (), insert:output_streams ():n_audio ())
for i = 0, plugin:parameter_count () - 1 do print ("name", i, plugin:parameter_label (i)) end

-- Settings as "index=value,index=value" in host values 0..1.
for index, value in string.gmatch (os.getenv ("VM_ARDOUR_SETTINGS") or "", "(%d+)=([%d%.]+)") do
	assert (ARDOUR.LuaAPI.set_processor_param (effect, tonumber (index), tonumber (value)))
end
for i = 0, plugin:parameter_count () - 1 do
	print ("value", i, ARDOUR.LuaAPI.get_processor_param (effect, i))
end

-- The saved session records how Ardour took each parameter (its automation state and
-- flags); scripts/ardour.sh reads it back.
assert (Session:save_state ("", false, false, false, false, false) == 0, "session not saved")

local export = Session:simple_export ()
export:set_name ("ardour-render")
export:set_folder (dir)
export:set_range (0, seconds * rate)
assert (export:set_preset ("7d3c0b1a-5e44-4a2f-9d2b-66f0c1e7a001"), "float WAV preset not found")
assert (export:check_outputs (), "the master bus has no outputs to export")
assert (export:run_export (), "export failed")
-- Lua must drop its references before the session goes: a track freed after its
-- session reads freed memory (valgrind shows it in ~IO).
tracks, track, vowel, effect, insert, plugin, export = nil, nil, nil, nil, nil, nil, nil
collectgarbage ()
close_session ()
print ("rendered")
