[device]
serial_descriptor =
hardware_key = 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F
transfer_log = /nonexistent/dir/log
documents = 1000
[device]
serial = 999
[device]
vid = 0
pid = 0xFFFF
speed = full
