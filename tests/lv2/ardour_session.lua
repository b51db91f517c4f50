-- Ardour as an LV2 host: a mono track fed by the test vowel, the LV2 plug-in after it with
-- Mix 0 (the dry signal alone), and a float WAV export. Run by ardour_lv2.sh through
-- ardour7-lua; the folder comes from the environment.
local dir = assert (os.getenv ("VM_ARDOUR_DIR"), "VM_ARDOUR_DIR not set")
local seconds = 2
local rate = 48000
local uri = "urn:voicemultiply:VoicemultiplyV42_MS"

local backend = AudioEngine:set_backend ("None (Dummy)", "", "")
assert (backend, "no dummy backend")
backend:set_device_name ("Silence")
assert (create_session (dir .. "/session", "vm", rate), "session not created")

local tracks = Session:new_audio_track (1, 2, nil, 1, "voice", ARDOUR.PresentationInfo.max_order,
                                        ARDOUR.TrackMode.Normal, true)
local track = tracks:front ()

local vowel = ARDOUR.LuaAPI.new_luaproc (Session, "Voicemultiply test vowel")
assert (not vowel:isnil (), "vowel generator not created")
assert (track:add_processor_by_index (vowel, 0, nil, true) == 0, "vowel not added")

local effect = ARDOUR.LuaAPI.new_plugin (Session, uri, ARDOUR.PluginType.LV2, "")
assert (not effect:isnil (), "Ardour did not find the LV2 plug-in")
assert (track:add_processor_by_index (effect, 1, nil, true) == 0, "plug-in not added")
local insert = effect:to_insert ()
local plugin = insert:plugin (0)
print ("plugin", plugin:unique_id ())
print ("streams", insert:input_streams ():n_audio (), insert:output_streams ():n_audio ())

-- Controls by their symbol, in port units.
local function set (symbol, value)
	for i = 0, plugin:parameter_count () - 1 do
		local port, ok = plugin:nth_parameter (i)
		if ok and plugin:parameter_is_control (port) and plugin:parameter_label (port) == symbol then
			assert (ARDOUR.LuaAPI.set_processor_param (effect, i, value), "cannot set " .. symbol)
			print ("set", symbol, ARDOUR.LuaAPI.get_processor_param (effect, i))
			return
		end
	end
	error ("no control " .. symbol)
end
set ("Mix", 0)
set ("DynRandom", 0)

local export = Session:simple_export ()
export:set_name ("ardour-lv2")
export:set_folder (dir)
export:set_range (0, seconds * rate)
assert (export:set_preset ("7d3c0b1a-5e44-4a2f-9d2b-66f0c1e7a001"), "float WAV preset not found")
assert (export:check_outputs (), "the master bus has no outputs to export")
assert (export:run_export (), "export failed")
tracks, track, vowel, effect, insert, plugin, export = nil, nil, nil, nil, nil, nil, nil
collectgarbage ()
close_session ()
print ("rendered")
