'use strict';

// Shared by the pages of a logged-in session: the calls of the web API, the device templates,
// and helpers that build the pages. Everything that comes from the API (device names from the
// network server, type names from template files) is put into the page as text, never as
// markup, so that whoever controls those names cannot run script in the operator's session.
var Tarvex = (function () {
    var STATUS_TEXTS = {
        'ONLINE': 'Подключен',
        'PING WAITING': 'Подключение',
        'INVALID AUTH': 'Ошибка авторизации',
        'INVALID PING': 'Потеряна связь',
        'AUTH WAITING': 'Авторизация',
        'DISCONNECTED': 'Отключен'
    };
    var SOURCE_TEXTS = ['сервер', 'устройство'];
    var BITS_PER_REGISTER = 16;
    var FLASH_KEY = 'notice';
    var SERVER_UNREACHABLE = 'Сервер недоступен';

    // Sends POST api/v1/<scope>/<action> relative to the page, with the body as JSON when there
    // is one. Resolves with the parsed JSON answer (an empty object for an empty answer);
    // rejects with an Error whose message can be shown to the operator.
    function api(scope, action, body) {
        var options = { method: 'POST', credentials: 'same-origin' };
        if (body !== undefined) {
            options.headers = { 'Content-Type': 'application/json' };
            options.body = JSON.stringify(body);
        }
        return fetch('api/v1/' + scope + '/' + action, options).then(function (response) {
            // The session has ended (time-out, logout in another tab): the reload brings the
            // login page.
            if (response.status === 403) {
                window.location.reload();
            }
            return response.text().then(function (text) {
                if (!response.ok) {
                    throw new Error(text || response.statusText);
                }
                return text === '' ? {} : JSON.parse(text);
            });
        }, function () {
            throw new Error(SERVER_UNREACHABLE);
        });
    }

    // The loaded device templates keyed by their application EUI.
    function loadTemplates() {
        return api('app', 'getTemplates').then(function (answer) {
            var templates = {};
            (answer.templates || []).forEach(function (template) {
                templates[template.app_eui] = template;
            });
            return templates;
        });
    }

    // Creates an element; `text` becomes its text content, the other properties are set as
    // they are (className, type, value...), and children may be nodes or texts.
    function el(tag, properties, children) {
        var element = document.createElement(tag);
        Object.keys(properties || {}).forEach(function (name) {
            if (name === 'text') {
                element.textContent = properties.text;
            } else {
                element[name] = properties[name];
            }
        });
        (children || []).forEach(function (child) {
            element.append(child);
        });
        return element;
    }

    // A table row of text cells.
    function textRow(texts) {
        return el('tr', {}, texts.map(function (text) {
            return el('td', { text: String(text) });
        }));
    }

    function statusText(status) {
        return STATUS_TEXTS.hasOwnProperty(status) ? STATUS_TEXTS[status] : String(status);
    }

    function sourceText(source) {
        return SOURCE_TEXTS[source] || String(source);
    }

    // Modbus registers of a value: "100" for one of 16 bits or fewer, "100 - 101" for wider.
    function registerRange(first, bitSize) {
        var count = Math.ceil(bitSize / BITS_PER_REGISTER);
        return count > 1 ? first + ' - ' + (first + count - 1) : String(first);
    }

    // Shows a message in a notice area of the page; kind is 'ok' or 'error'.
    function notify(area, text, kind) {
        area.textContent = text;
        area.className = 'notice notice--' + kind;
        area.hidden = false;
    }

    function clearNotice(area) {
        area.textContent = '';
        area.hidden = true;
    }

    // A message for the next page that is opened (the main page after adding a device).
    function setFlash(text) {
        window.sessionStorage.setItem(FLASH_KEY, text);
    }

    function takeFlash() {
        var text = window.sessionStorage.getItem(FLASH_KEY);
        window.sessionStorage.removeItem(FLASH_KEY);
        return text;
    }

    // A whole number from an input field, or NaN when the field holds anything else.
    function wholeNumber(input) {
        var text = input.value.trim();
        return /^-?\d+$/.test(text) ? Number(text) : NaN;
    }

    // Editable cells of a register's scaling: addition, multiplication and units.
    function scalingCells(entry) {
        return [
            el('td', {}, [el('input', { className: 'input--narrow scaling-addition',
                                        type: 'text', inputMode: 'numeric',
                                        value: String(entry.addition) })]),
            el('td', {}, [el('input', { className: 'input--narrow scaling-multiplication',
                                        type: 'text', inputMode: 'decimal',
                                        value: String(entry.multiplication) })]),
            el('td', {}, [el('input', { className: 'input--narrow scaling-units', type: 'text',
                                        value: entry.units })])
        ];
    }

    // The scaling typed into a row made with scalingCells; throws an Error naming the register
    // when the addition is not a whole number or the multiplication not a number.
    function readScaling(row, name) {
        var addition = wholeNumber(row.querySelector('.scaling-addition'));
        var multiplicationText = row.querySelector('.scaling-multiplication').value.trim();
        var multiplication = Number(multiplicationText.replace(',', '.'));
        if (isNaN(addition)) {
            throw new Error('сложение регистра «' + name + '» должно быть целым числом');
        }
        if (multiplicationText === '' || !isFinite(multiplication)) {
            throw new Error('умножение регистра «' + name + '» должно быть числом');
        }
        return {
            addition: addition,
            multiplication: multiplication,
            units: row.querySelector('.scaling-units').value
        };
    }

    // One register entry of an addDevice request.
    function registerEntry(source, register, scaling) {
        return {
            data_name: register.data_name,
            source: source,
            reg_map_bias: register.reg_map_bias,
            reg_bit_size: register.reg_bit_size,
            data_type: register.data_type,
            addition: scaling.addition,
            multiplication: scaling.multiplication,
            units: scaling.units
        };
    }

    function logout() {
        api('auth', 'logout').then(reload, reload);
    }

    function reload() {
        window.location.reload();
    }

    return {
        api: api,
        loadTemplates: loadTemplates,
        el: el,
        textRow: textRow,
        statusText: statusText,
        sourceText: sourceText,
        registerRange: registerRange,
        notify: notify,
        clearNotice: clearNotice,
        setFlash: setFlash,
        takeFlash: takeFlash,
        wholeNumber: wholeNumber,
        scalingCells: scalingCells,
        readScaling: readScaling,
        registerEntry: registerEntry,
        logout: logout
    };
})();

document.addEventListener('DOMContentLoaded', function () {
    var logout = document.getElementById('logout');
    if (logout) {
        logout.addEventListener('click', Tarvex.logout);
    }
});
