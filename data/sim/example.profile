# Scanner simulator profile (KOVRAN_USB=sim KOVRAN_SIM=<this file>).
#
# One [device] section per simulated scanner, "key = value" lines; '#' or
# ';' starts a comment line. Numbers are decimal or 0x-hex; byte blocks are
# two-digit hex bytes separated by blanks, padded with zeros to their size;
# flags are yes/no. Every key may appear once per section, except "fault"
# and "swipe".
# Keys left out take the defaults: vid 0x7E51, pid 3, serial 000001,
# firmware 0x5012, high speed, blocks and words zero, CIS 12 V, counter
# registers yes, external power yes, plugged yes, no documents, no faults,
# a stripe reader and no cards.

# A main-family scanner like the built-in default device.
[device]
name = desk scanner
vid = 0x7E51
pid = 3
# UTF-8 text, sent as the UTF-16 string descriptor 4 (3 for other vendors).
serial = 012345
firmware = 0x5012
speed = high
# Register-form firmware may also answer the old-form version read that
# hosts send first (old_request_form = yes); by default it stalls it.
old_request_form = no
# <bus>-<ports> in the device path; "1-<position>" when left out.
location = 1-2
# The configuration block 0xD0/1 is built from these in the firmware
# family's layout ...
config_word = 0x0A057982
config_word2 = 0x0030
cis_voltage = 12
# ... unless given raw (at most 8 bytes):
# config_block = 01 82 0C 79 05 0A 30 00
device_config = 0C 00 00 00 00 00 00 00
micr_block = 28 43 90 01 3C 0A 05 00 00 00 1E 00 00 10 05 00
sensor_options = 0x00
hardware_key = 4B 56 58 2D 53 49 4D 00
photo_tuning = 80 80 80 80 40 40 40 40
# The calibration kept in the EEPROM (0xD0/0x11 chooses the 300 or 600 dpi
# block, 0xD0/0x13 reads it): made from the sensor model, or blank. The
# library reads it on firmware 0x3104 to 0x5011 with the sensor option
# byte's EEPROM flag. Faults: a stored data size other than the true one,
# and the data block that answers nothing.
eeprom_calibration = no
#   eeprom_calibration_size = 31161
#   eeprom_calibration_fail_block = 40
page_counter_register = yes
inkjet_counter_register = yes
page_counter = 1500
inkjet_counter = 20
external_power = yes
plugged = yes
# Generated cheques in the feeder (at most 1000; grey unless
# documents_colour = yes; documents_seed varies them). They need no files.
documents = 3
documents_colour = no
documents_seed = 1
# Or a kvx-synth corpus (scripts/make-corpus), queued after them:
#   documents = corpus:/path/to/corpus
# Single documents from image files (PNG, PGM or PPM), one per line:
#   feeder = front.png rear=rear.png backlight=bl.png mag=track.mag
#            mag_per_inch=3000 dpi=300 dpi_y=300 skew=0.8 feed=left double
# How the lines stream: free (as fast as the host reads) or paced (at the
# mode's line rate for paper_speed inches per second of the clock).
stream = free
paper_speed = 20
# Channel lines marked with a leading 0 byte (a hardware aligner).
aligner = no
# The sensors: gain in percent of full scale and dark offset in counts,
# lowest and highest, spread across the pixels by sensor_seed.
sensor_seed = 1
sensor_gain = 85 100
sensor_dark = 0 8
# Noise of each sample (peak counts, changing line by line) and specks of
# dust on the front sensor's glass (runs of 4 pixels seeing 30 % of the
# light). The raw values follow the lamp level the start command asks for,
# in proportion to level 63.
sensor_noise = 0
sensor_dust = 0
# Where the paper lies (1/300 inch): its edge from sensor pixel 0, each
# sensor downstream of the one the paper reaches first (left out: the
# model's own, the rear 270 behind the front; on PID 11 the front 100
# behind the rear), the gap before the leading edge; and what the sensors
# see beside the paper.
document_offset = 60
front_delay = 0
rear_delay = 270
lead_gap = 30
background = 20
# Bulk transfers above this are refused with 1450 (Linux's default usbfs
# limit; 0: no limit).
bulk_limit = 16777216
# The magnetic stripe reader (commands 0xD2); "no" makes the device refuse
# them. Cards wait like documents and pass the reader one by one while it is
# on: "<track 1>|<track 2>|<track 3>" as written on the card, sentinels
# included, LRC worked out by the simulator; an empty track holds nothing.
# After a fourth '|': "reversed" and one "fault=<name>[@<track>]" of parity,
# no_start, no_end, lrc, too_long, noise, slip.
stripe_reader = yes
swipe = %B5555444433331111^HOLDER/TEST^3011101?|;5555444433331111=30111010000?|
swipe = |;5555444433331111=30111010000?||reversed fault=parity@2

# An older scanner of the 0x2000 family that reports the 0x3000-family
# version block, with a malformed serial descriptor and two standing faults.
[device]
name = old scanner
pid = 9
serial = 000777
firmware = 0x2207
speed = full
config_word = 0x00000002
cis_voltage = 5
fw3000_version = 0x3005
# Raw descriptor bytes replace the one built from "serial".
serial_descriptor = 09 03 31 00 32 00 33
page_counter_register = no
inkjet_counter_register = no
# Inkjet configuration blocks 0xD0/0x51 and 0xD0/0x55 (64 bytes each).
# inkjet1_config = 01 02 03
# inkjet2_config = 01 02 03
external_power = no
documents = 0
# Every control transfer appends begin and end lines to this file.
# transfer_log = /tmp/kovran-sim-transfers.log
# Faults: not_ready <n> [open|control] [cmd <class> [<sub>]],
# access_denied <n> [open|control] [cmd ...], unplug call <n>,
# unplug byte <n>, unplug open <n>, replug <n>, zero_status <n>,
# wrong_length <n> <delta> [cmd ...], slow_reply <ms> [<n>] [cmd ...],
# corrupt_reply <n> <offset> <mask> [cmd ...], bulk_limit <bytes>;
# a count may be "forever". "not_ready" refuses control transfers and
# "access_denied" opens unless "open" or "control" says otherwise.
fault = not_ready 2 cmd 0xD0 0x03
fault = slow_reply 5
# Bulk-in faults: a read error at a stream byte, a stall, a read completed
# before GO, a short document, an aligner glitch, a noise dropout and a
# rate limit (see sim/fault_plan.h), for example:
#   fault = bulk_error 21 1 at 1000000
#   fault = bulk_stall 50000000
#   fault = early_completion 1
#   fault = short_document 900
#   fault = aligner_glitch 120 +1
#   fault = noise_dropout 200 300 64 2
#   fault = rate_limit 40000000
