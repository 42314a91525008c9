<?php
// SPDX-License-Identifier: GPL-3.0-or-later
// enviar_mensaje.php?name=datos&folder=F&new=0&datacry=HEX: stores the next message of F.
// The answer is shown to the sender, so it names the message number.

declare(strict_types=1);

require_once __DIR__ . '/../lib/request.php';

velkorant_begin(true);
$folder = velkorant_folder();
// The client only ever sends these two values; anything else is not a request we understand.
if (velkorant_param('name') !== 'datos') {
    velkorant_answer(400, 'Error: parametro name no valido');
}
if (velkorant_param('new') !== '0') {
    velkorant_answer(400, 'Error: parametro new no valido');
}
$datacry = velkorant_param('datacry');
if (strlen($datacry) > VELKORANT_MAX_DATACRY) {
    velkorant_answer(400, 'Error: mensaje demasiado largo');
}
// Ciphertext in whole AES blocks, as upper-case hexadecimal.
if (strlen($datacry) % 32 !== 0 || preg_match('/^[0-9A-F]+$/D', $datacry) !== 1) {
    velkorant_answer(400, 'Error: parametro datacry no valido');
}
velkorant_test_hook('enviar_mensaje', $folder);
$number = velkorant_store()->append($folder, $datacry);
if ($number === null) {
    velkorant_answer(404, 'Error: no existe el buzon');
}
velkorant_answer(200, "Mensaje $number guardado");
