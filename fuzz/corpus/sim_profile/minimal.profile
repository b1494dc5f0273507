[device]
