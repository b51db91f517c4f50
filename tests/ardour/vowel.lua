ardour { ["type"] = "dsp", name = "Voicemultiply test vowel", category = "Utility",
         description = [[A stationary sung vowel as a function of the transport position:
the same samples whenever the same range is rendered, so that another host can render the
identical input.]] }

-- Keep in step with vowel.py: f0 and the harmonics' amplitudes define the signal.
local f0_hz = 196.0
local amplitudes = { 0.30, 0.22, 0.16, 0.20, 0.12, 0.06, 0.05, 0.04, 0.03, 0.02 }

function dsp_ioconfig () return { { audio_in = 1, audio_out = 1 } } end

local rate_hz = 48000
function dsp_init (rate) rate_hz = rate end

function dsp_run (ins, outs, n_samples)
	local out = outs[1]:array ()
	local rolling = Session:transport_rolling ()
	local start = Session:transport_sample ()
	for i = 1, n_samples do
		local x = 0.0
		local n = start + i - 1
		if rolling and n >= 0 then
			local t = n / rate_hz
			for k = 1, #amplitudes do
				x = x + amplitudes[k] * math.sin (2.0 * math.pi * f0_hz * k * t)
			end
		end
		out[i] = x
	end
end
